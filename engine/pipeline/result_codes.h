#pragma once
// Result codes exchanged between the rings, the stages and the player.

namespace vesperon::engine {

inline constexpr int kDone = 0;
inline constexpr int kBlockTooLarge = 2;   // read block larger than the ring's overhang
inline constexpr int kNoRoom = 7;          // writer must wait
inline constexpr int kNotConnected = 15;   // decoder not connected
inline constexpr int kResizeRefused = 16;  // reading has begun
inline constexpr int kNoInputRing = 17;
inline constexpr int kNeedMoreData = 24;  // reader must wait
inline constexpr int kSeekFailed = 25;
inline constexpr int kReaderThreadFailed = 26;
inline constexpr int kClosing = 28;  // the ring or stage is stopping; never a failure
inline constexpr int kMessageDue = 29;
inline constexpr int kEndOfData = 33;
inline constexpr int kNoFrameSequence = 1001;
inline constexpr int kCannotDecode = 1002;
inline constexpr int kDecoderThreadFailed = 1003;

// Request codes a stage posts to its player.
inline constexpr int kRequestEndOfFile = 12;
inline constexpr int kRequestStageFailure = 77;

}  // namespace vesperon::engine
