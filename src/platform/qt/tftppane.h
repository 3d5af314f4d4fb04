// The TFTP tab beside SysTrace: the TFTP server's pane, shown while the
// server runs.
#pragma once

class QTabWidget;

void AttachTftpPane(QTabWidget* tabs);
