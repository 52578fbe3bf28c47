// vesperon-screenshot [--expanded | --reset-question] OUT.png
// Builds the main window on Qt's offscreen platform and saves its client area as it is shown:
// folded (outer height 263) unless --expanded (outer height 500). --reset-question saves instead
// the question 重置播放列表 asks, as the program shows it (with Qt's Chinese texts).

#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/routine_ids.h"
#include "desktop/dialog_language.h"
#include "desktop/message_box.h"
#include "skin/skin.h"
#include "ui/appearance.h"
#include "ui/main_window.h"
#include "ui/window_widget.h"

int main(int argc, char** argv) {
    bool expanded = false, question = false;
    const char* out = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--expanded") == 0)
            expanded = true;
        else if (std::strcmp(argv[i], "--reset-question") == 0)
            question = true;
        else if (!out && argv[i][0] != '-')
            out = argv[i];
        else
            out = nullptr, i = argc;
    }
    if (!out) {
        std::fprintf(stderr, "usage: vesperon-screenshot [--expanded | --reset-question] OUT.png\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vesperon::ui::installSystemFont();
    // The program's start-up switches the skin on in scheme 2 before anything is shown.
    vesperon::skin::SetSkin(2);

    // No routines (start-up would register hot keys): the window as its layout builds it.
    auto loaded = vesperon::ui::loadMainWindow({}, vesperon::app::routineCatalog(), {.show = true});
    if (!loaded) {
        std::fprintf(stderr, "vesperon-screenshot: %s\n", loaded.error.c_str());
        return 1;
    }
    auto& form = loaded.value;
    form->window().setProperty(vesperon::ui::kHeight, expanded ? vesperon::ui::kMainWindowExpandedHeight
                                                               : vesperon::ui::kMainWindowCollapsedHeight);
    QApplication::processEvents();
    QPixmap picture;
    if (question) {
        vesperon::desktop::installDialogTranslations();
        QTimer::singleShot(300, [&picture] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                picture = box->grab();
                static_cast<QMessageBox*>(box)->reject();
            }
        });
        vesperon::desktop::ShowMessageBox("真的要重置播放列表吗?\r\n这将清空现有播放列表!", 0x21, "重置播放列表");
    } else {
        picture = form->windowWidget()->grab();
    }
    if (!picture.save(QString::fromLocal8Bit(out), "PNG")) {
        std::fprintf(stderr, "vesperon-screenshot: cannot write %s\n", out);
        return 1;
    }
    std::printf("%s: %d x %d\n", out, picture.width(), picture.height());
    return 0;
}
