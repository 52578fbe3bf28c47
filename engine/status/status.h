#pragma once
// The engine's one status vocabulary: what the source file, the byte sources, the stream decoder,
// the rings, the stages and the player return, and why a play ended. It sits below every other engine folder
// so that each may use it. The numbers are the historical result codes; they stay fixed so that a code
// printed by a tool or seen in a log keeps its meaning.

#include <iosfwd>

namespace vesperon::engine {

enum class Status : int {
    Ok = 0,
    BlockTooLarge = 2,  // a read larger than the ring's overhang
    AccessDenied = 9,   // the file may not be read, or is a folder
    NotAFile = 11,      // a pipe or a device: no size, and it may never end
    FileNotFound = 12,
    TooManyFiles = 13,   // out of file descriptors
    NoRoom = 7,          // the writer must wait
    NotConnected = 15,   // the decoder stage has no input yet
    ResizeRefused = 16,  // the ring has begun to be read
    NoInputRing = 17,
    NotEnoughData = 24,  // not buffered yet: wait for data and ask again
    SeekFailed = 25,
    ReaderThreadFailed = 26,
    Stopping = 28,         // the ring or stage is closing; never a failure
    MessageDue = 29,       // an in-band message lies at or inside the requested block
    EndOfData = 33,        // the input has ended
    CannotOpen = 1,        // the file did not open for another reason (a loop of links, a long name)
    NoStreamFound = 1001,  // the probe found no three consistent frames
    CannotDecode = 1002,
    DecoderThreadFailed = 1003,
    NothingToPlay = 1006,  // the list is empty
    PasswordTooLong = 1007,
    // The wave output device's results.
    DeviceFailed = 2001,      // no device opened, or it stopped taking sound
    BadFormat = 2032,         // the device cannot play this format
    StillPlaying = 2033,      // headers are still queued
    HeaderUnprepared = 2034,  // a header written without being prepared
};

// The name without the enum's prefix ("NotEnoughData"), for messages and test output.
const char* statusName(Status status);
std::ostream& operator<<(std::ostream& os, Status status);

// The number a tool prints or an exit path reports.
constexpr int toCode(Status status) {
    return static_cast<int>(status);
}

}  // namespace vesperon::engine
