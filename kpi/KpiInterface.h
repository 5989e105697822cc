/*
 * KPI decoder plug-in interface.
 *
 * A plug-in is a shared library (a DLL on Windows, an ELF shared object on Linux) whose file
 * name ends in ".kpi" and which exports the unmangled C function kmp_GetTestModule. The host
 * calls it once right after loading the library and copies the record it points to.
 *
 * Order of calls made by the host:
 *   1. kmp_GetTestModule, then Init (when not NULL).
 *   2. Per song: Open. When SampleRate, Channels and BitsPerSample all come back 0 the host
 *      calls Close at once and treats the open as failed; otherwise it calls SetPosition(h, 0).
 *      While a song is open and Reentrant is 0, no second Open is made.
 *   3. Render repeatedly with size = UnitRenderSize, or 8192 when that is 0. The bytes are PCM
 *      laid out as a WAV data chunk of the answered format. A result smaller than size means
 *      that the song has ended.
 *   4. SetPosition(h, n * 1000): go to second n or, in a MultiSong file, select song n.
 *   5. Close once per good Open.
 *   6. At shutdown Deinit, then the library is unloaded. Songs are closed before that.
 *
 * This header is plain C so that a plug-in author can include it from C or C++.
 */
#ifndef PELLAN_KPI_INTERFACE_H
#define PELLAN_KPI_INTERFACE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The interface version a plug-in must report in KpiModule.InterfaceVersion. */
#define KPI_INTERFACE_VERSION 100u

/* LengthMs value meaning that the plug-in knows no length for the song. */
#define KPI_NO_LENGTH 0xFFFFFFFFu

/* Existing plug-ins for 32-bit Windows were built with __stdcall; everything else uses the
 * platform's default convention. */
#if defined(_WIN32) && (defined(_M_IX86) || defined(__i386__))
#define KPI_CALL __stdcall
#else
#define KPI_CALL
#endif

#if defined(_WIN32)
#define KPI_EXPORT __declspec(dllexport)
#elif defined(__GNUC__)
#define KPI_EXPORT __attribute__((visibility("default")))
#else
#define KPI_EXPORT
#endif

/* A song handle. 0 means "no song". */
typedef uint32_t KPI_HANDLE;

/* Carries a requested format into Open and the rendered format out of it. On entry it is all
 * zero, or holds SampleRate, Channels and BitsPerSample (0: no preference) with every other
 * field zero; the plug-in overwrites it with what it will render. */
typedef struct SoundFormat {
    uint32_t SampleRate; /* Hz */
    uint32_t Channels;
    uint32_t BitsPerSample;
    uint32_t LengthMs;       /* KPI_NO_LENGTH: none; MultiSong: number of songs * 1000 */
    uint32_t Spare5;         /* not used */
    uint32_t UnitRenderSize; /* bytes wanted per Render; 0: no preference */
    uint32_t Endless;        /* nonzero: the song does not end by itself */
    uint32_t MultiSong;      /* nonzero: the file holds several songs */
} SoundFormat;

typedef void(KPI_CALL* KpiInitProc)(void);
typedef void(KPI_CALL* KpiDeinitProc)(void);
typedef KPI_HANDLE(KPI_CALL* KpiOpenProc)(const char* fileName, SoundFormat* format);
typedef void(KPI_CALL* KpiEntry10Proc)(void);
typedef void(KPI_CALL* KpiCloseProc)(KPI_HANDLE handle);
typedef uint32_t(KPI_CALL* KpiRenderProc)(KPI_HANDLE handle, uint8_t* buffer, uint32_t size);
typedef uint32_t(KPI_CALL* KpiSetPositionProc)(KPI_HANDLE handle, uint32_t positionMs);

/* The record kmp_GetTestModule points to. The host copies it right after the call. */
typedef struct KpiModule {
    uint32_t InterfaceVersion; /* must be KPI_INTERFACE_VERSION */
    uint32_t PluginVersion;    /* higher is preferred */
    const char* InfoText1;     /* not used by the host */
    const char* InfoText2;     /* not used by the host */
    /* NULL-terminated array of texts; an entry beginning with "." names one extension (the
     * text after the dot, which may be empty); other entries are ignored. Must not be NULL. */
    const char* const* SupportedExtensions;
    uint32_t Reentrant;             /* nonzero: several songs may be open at once */
    KpiInitProc Init;               /* may be NULL */
    KpiDeinitProc Deinit;           /* may be NULL */
    KpiOpenProc Open;               /* required */
    KpiEntry10Proc Entry10;         /* never called */
    KpiCloseProc Close;             /* required */
    KpiRenderProc Render;           /* required */
    KpiSetPositionProc SetPosition; /* required; its result is not used */
} KpiModule;

typedef const KpiModule*(KPI_CALL* KpiGetModuleProc)(void);

/* The one export of a plug-in. */
#define KPI_ENTRY_NAME "kmp_GetTestModule"
KPI_EXPORT const KpiModule* KPI_CALL kmp_GetTestModule(void);

/* Both records are part of the binary interface: on a 32-bit target they must keep the layout
 * that existing plug-ins were compiled with. */
#if defined(__cplusplus)
#define KPI_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define KPI_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
KPI_STATIC_ASSERT(sizeof(SoundFormat) == 32, "SoundFormat must be 32 bytes");
#if UINTPTR_MAX == 0xFFFFFFFFu
KPI_STATIC_ASSERT(sizeof(KpiModule) == 13 * 4, "KpiModule must be 13 four-byte fields");
#endif

#ifdef __cplusplus
}
#endif

#endif /* PELLAN_KPI_INTERFACE_H */
