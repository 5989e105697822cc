/*
 * Optional entries of a KPI decoder plug-in, understood by Pellan Decoder.
 *
 * A plug-in that follows KpiInterface.h alone works as it always has. A plug-in may export
 * any of the entries below in addition, by their plain names beside kmp_GetTestModule; the
 * program looks each one up by name after loading the library and calls it only when it is
 * there. Nothing in KpiModule changes.
 *
 *   pellan_GetSongInfo   one text of the song's own information (title, artist, ...)
 *   pellan_GetOpenError  why the last Open on the calling thread failed, as one line
 *
 * Calling convention and export
 *   The entries use KPI_CALL, as the entries of KpiModule do: __stdcall in a 32-bit Windows
 *   DLL, the platform's default everywhere else. A 32-bit DLL must export them under their
 *   plain names, undecorated (with MinGW: link with -Wl,--kill-at, or name them in a .def
 *   file), exactly as it exports kmp_GetTestModule. Declare them with KPI_EXPORT, or list them
 *   in the .def file.
 *
 * Memory
 *   The caller owns every buffer. An entry copies its text into the buffer it is given and
 *   returns the length of the whole text in bytes, without a terminator:
 *     - size is the buffer's room in bytes, the terminating NUL included;
 *     - the entry writes at most size bytes: the first size - 1 bytes of the text and a NUL
 *       (nothing at all when size is 0; buffer may then be NULL);
 *     - a result of size or more means that the text was cut: the caller asks again with a
 *       buffer of result + 1 bytes;
 *     - 0 means there is no such text.
 *   An entry never keeps the buffer pointer, never allocates memory that the caller must
 *   release, and never writes past size. A text ends at its first NUL; texts longer than
 *   64 KiB are cut by the program.
 *
 * Character set
 *   A plug-in for Linux (an ELF shared object) writes UTF-8. A Windows plug-in (a DLL) writes
 *   the ANSI code page of the process it runs in (CP_ACP), the code page its file names come
 *   in; the program converts it to UTF-8 itself.
 *
 * Threads
 *   Open, and so pellan_GetOpenError, may be called from several threads at once, each thread
 *   for songs of its own. pellan_GetOpenError is called on the thread whose Open failed, right
 *   after that Open returned 0 or answered a format whose SampleRate, Channels and
 *   BitsPerSample are all 0, before that thread calls anything else in the plug-in. Keep the
 *   text per thread (in thread-local storage, for instance), so that another thread's Open
 *   never replaces it in between.
 *
 *   pellan_GetSongInfo is called for a song that is open, on the thread that opened it, after
 *   Open and SetPosition (which selects the song of a multi-song file) and before the song's
 *   first Render; it may be called again later, but never at the same time as another call
 *   for the same handle. Other songs may be rendering on other threads meanwhile, so guard
 *   whatever the songs share.
 *
 * Where the texts go
 *   Song information becomes the LIST/INFO chunk of the WAV file (INAM, IART, IPRD, IPRT, ICRD,
 *   ICMT, ICOP), in UTF-8; where a playlist entry names a title or an artist, that one is
 *   written instead. The reason of a failed open is shown in the log, indented under the
 *   failure line: keep it to one line a user can act on ("SoundFont /x/gm.sf2 is missing",
 *   "bad chunk size at byte 4410"); line breaks are shown as blanks.
 */
#ifndef PELLAN_KPI_EXTENSION_H
#define PELLAN_KPI_EXTENSION_H

#include "KpiInterface.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The fields of pellan_GetSongInfo, with the WAV INFO chunk each one becomes. */
#define PELLAN_INFO_TITLE 1u     /* INAM: the song's title */
#define PELLAN_INFO_ARTIST 2u    /* IART: artist, composer or author */
#define PELLAN_INFO_ALBUM 3u     /* IPRD: the album, or the game the music comes from */
#define PELLAN_INFO_TRACK 4u     /* IPRT: the track number, as text ("3", "3/12") */
#define PELLAN_INFO_DATE 5u      /* ICRD: the date or the year ("1987", "2004-05-21") */
#define PELLAN_INFO_COMMENT 6u   /* ICMT */
#define PELLAN_INFO_COPYRIGHT 7u /* ICOP */

/* Copies the text of field (PELLAN_INFO_...) of the open song handle into buffer. Returns the
 * text's length, or 0 when the song has none, the field is unknown or the handle is not open.
 * For a multi-song file it describes the song that SetPosition selected last. */
typedef uint32_t(KPI_CALL* PellanGetSongInfoProc)(KPI_HANDLE handle, uint32_t field, char* buffer,
                                                  uint32_t size);
#define PELLAN_SONG_INFO_ENTRY_NAME "pellan_GetSongInfo"

/* Copies into buffer why the last Open made on the calling thread failed: one line, without a
 * line break. Returns its length, or 0 when the plug-in has no reason to give. */
typedef uint32_t(KPI_CALL* PellanGetOpenErrorProc)(char* buffer, uint32_t size);
#define PELLAN_OPEN_ERROR_ENTRY_NAME "pellan_GetOpenError"

/* Declared here so that a plug-in's definitions are checked against them; a plug-in defines
 * those it offers and leaves out the others. */
KPI_EXPORT uint32_t KPI_CALL pellan_GetSongInfo(KPI_HANDLE handle, uint32_t field, char* buffer,
                                                uint32_t size);
KPI_EXPORT uint32_t KPI_CALL pellan_GetOpenError(char* buffer, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* PELLAN_KPI_EXTENSION_H */
