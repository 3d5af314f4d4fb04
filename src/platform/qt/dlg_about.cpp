// Help -> About Oxel: the version and the byte counters of this run.
#include <QMessageBox>

#include "app/oxel.h"
#include "backend/backend.h"
#include "console/rxpath.h"
#include "platform/qt/qt_ui.h"

namespace {

void OpenAbout(QWidget* parent) {
    const QString text = QString("<b>Oxel</b> %1<br>A bench console for firmware engineers.<br><br>"
                                 "Bytes sent: %2<br>Bytes received: %3")
                             .arg(OxelVersion())
                             .arg(BackendSentBytes())
                             .arg(RxByteCount());
    QMessageBox::about(parent, "About Oxel", text);
}

}  // namespace

OXEL_DIALOG("About Oxel", OpenAbout);
