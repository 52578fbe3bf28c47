#include "engine/status/status.h"

#include <ostream>

namespace vesperon::engine {

const char* statusName(Status status) {
    switch (status) {
        case Status::Ok:
            return "Ok";
        case Status::BlockTooLarge:
            return "BlockTooLarge";
        case Status::AccessDenied:
            return "AccessDenied";
        case Status::NotAFile:
            return "NotAFile";
        case Status::FileNotFound:
            return "FileNotFound";
        case Status::TooManyFiles:
            return "TooManyFiles";
        case Status::NoRoom:
            return "NoRoom";
        case Status::NotConnected:
            return "NotConnected";
        case Status::ResizeRefused:
            return "ResizeRefused";
        case Status::NoInputRing:
            return "NoInputRing";
        case Status::NotEnoughData:
            return "NotEnoughData";
        case Status::SeekFailed:
            return "SeekFailed";
        case Status::ReaderThreadFailed:
            return "ReaderThreadFailed";
        case Status::Stopping:
            return "Stopping";
        case Status::MessageDue:
            return "MessageDue";
        case Status::EndOfData:
            return "EndOfData";
        case Status::NoStreamFound:
            return "NoStreamFound";
        case Status::CannotDecode:
            return "CannotDecode";
        case Status::DecoderThreadFailed:
            return "DecoderThreadFailed";
        case Status::CannotOpen:
            return "CannotOpen";
        case Status::DeviceFailed:
            return "DeviceFailed";
        case Status::NothingToPlay:
            return "NothingToPlay";
        case Status::PasswordTooLong:
            return "PasswordTooLong";
        case Status::BadFormat:
            return "BadFormat";
        case Status::StillPlaying:
            return "StillPlaying";
        case Status::HeaderUnprepared:
            return "HeaderUnprepared";
    }
    return "unknown";
}

std::ostream& operator<<(std::ostream& os, Status status) {
    return os << statusName(status) << " (" << toCode(status) << ")";
}

}  // namespace vesperon::engine
