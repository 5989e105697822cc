// How the facts libgme gives about a file become the song description the host reads.
//
// The host fades out a song without a length, every song of a multi-song file, and an endless
// song from its length; a song with a length that is not endless plays to its own end. So:
// - A file of several tracks is a multi-song file: the length field carries the track count
//   (tracks x 1000). Its tracks are programs for a sound chip that run until libgme hears a
//   long silence, so they are endless.
// - A single track that libgme says does not loop (loop length 0, with a length: VGM and GYM
//   logs without a loop point) ends by itself, when its data runs out: not endless, with that
//   length.
// - A single track with a loop (intro and loop length) is endless and is played as long as
//   libgme would play it: the length the file states, else the intro and two passes of the
//   loop.
// - A single track whose file states only a length (an SPC or NSFE play time) is endless
//   with that length: the file says when to fade, the program keeps running after it.
// - Any other track has no length from the file, only libgme's own default of 150 s, which
//   is no fact about the music: endless, without a length, so the host fades it out after the
//   length its decode setting assumes.
#pragma once

#include <cstdint>

namespace gmekpi {

struct GmeFileFacts {
    int32_t TrackCount = 0;
    // Of the first track, in milliseconds, -1 where libgme knows none.
    int32_t Length = -1;
    int32_t IntroLength = -1;
    int32_t LoopLength = -1;
};

struct GmeSongShape {
    uint32_t LengthMs = 0;
    bool Endless = false;
    bool MultiSong = false;
};

// TrackCount must be at least 1.
GmeSongShape MapGmeFacts(const GmeFileFacts& facts);

} // namespace gmekpi
