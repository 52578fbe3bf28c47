#include "desktop/tool_tips.h"

#include <QTextDocument>
#include <QWidget>
#include <climits>

namespace vesperon::desktop {
namespace {
ToolTipControl& control() {
    static ToolTipControl c;
    return c;
}
}  // namespace

const ToolTipControl& toolTipControl() {
    return control();
}

int AddToolTip(ui::WindowHandle window, const std::string& text, bool balloon, bool centred) {
    (void)centred;  // a Qt tip is placed by Qt; centring has no equivalent
    if (window == 0) return 0;
    ToolTipControl& c = control();
    if (!c.created) {
        c.created = true;
        c.balloon = balloon;
    }
    if (QWidget* w = ui::widgetOfHandle(window)) {
        QString tip = QString::fromStdString(text);
        tip.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        // Qt would take text that looks like markup as rich text and wrap it; keep it literal.
        if (Qt::mightBeRichText(tip))
            tip =
                QStringLiteral("<p style='white-space:pre'>") + tip.toHtmlEscaped() + QStringLiteral("</p>");
        w->setToolTip(tip);
    }
    const int previous = c.maxWidth;
    c.maxWidth = INT_MAX / 2;
    return previous;
}

}  // namespace vesperon::desktop
