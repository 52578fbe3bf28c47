#include "desktop/program_info.h"

#include "program_config.h"

namespace vesperon::desktop {

const char* programVersion() { return VESPERON_VERSION; }
const char* applicationId() { return VESPERON_APP_ID; }

std::string usageText() {
    return "usage: vesperon [--session FILE] [--log FILE] [--no-window] [--help] [--version] [FILE...]\n";
}

std::string helpText() {
    return usageText() +
           "A scheduled MP3 player: plays its list during up to five daily periods.\n"
           "\n"
           "  FILE...           MP3 files to add to the list (handed to the running player of\n"
           "                    the same session, if there is one)\n"
           "  --session FILE    keep the list, the periods and the switches in FILE (JSON),\n"
           "                    saved at every change and restored at the next start\n"
           "  --log FILE        write the play log to FILE\n"
           "                    (default $XDG_STATE_HOME/vesperon/play.log)\n"
           "  --no-window       run without a window (Qt's offscreen platform); the schedule\n"
           "                    and MPRIS still run\n"
           "  --help            print this text and exit\n"
           "  --version         print the version and exit\n";
}

}  // namespace vesperon::desktop
