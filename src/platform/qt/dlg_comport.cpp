// The COM port dialogs: "COM Port Configuration..." (Config -> Backend -> COM
// Port and the tool bar's baud button) and the COM port control dialog
// (View -> ComPortControl).
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "backend/backend.h"
#include "backend/comport.h"
#include "config/configrecord.h"
#include "platform/serial.h"
#include "platform/qt/qt_ui.h"

namespace {

// Fills a port list and selects the configured port (else the first entry):
// the numbered ports, then the USB adapters by their by-id names with what
// they say about themselves. The box is editable: any device path may be typed.
void FillPorts(QComboBox* box) {
    box->clear();
    int select = 0;
    for (const std::string& e : ComPortList()) {
        if (ComPortFromEntry(e) == g_cfg.COMPORT) select = box->count();
        box->addItem(QString::fromStdString(e));
    }
    for (const SerialUsbAdapter& a : SerialByIdList()) {
        std::string text = a.byId;
        for (const std::string* f : {&a.product, &a.vendorProduct, &a.serial})
            if (!f->empty() && *f != ":") text += "  " + *f;
        box->addItem(QString::fromStdString(text));
    }
    box->setCurrentIndex(select);
}

// The port number of the chosen or typed entry: "COM3 (...)", NONE and the
// like, or a device path (up to the details after two blanks); -1 when none.
int PortOfEntry(const std::string& entry) {
    if (entry.empty() || entry[0] != '/') return ComPortFromEntry(entry);
    return ComPortForDevice(entry.substr(0, entry.find("  ")));
}

QString AltPortLine() {
    if (g_cfg.COMPORTALT == 0) return "Alt port disabled";
    return QString::asprintf("Alt port#: %d, passthrough %sabled", g_cfg.COMPORTALT.get(),
                             g_cfg.COMPORT_PASSTHROUGH ? "en" : "dis");
}

// Parity list order and the PARITY value of each entry.
const char* const kParityNames[] = {"None", "Even", "Odd", "Mark", "Space"};
const int kParityValues[] = {0, 2, 1, 3, 4};

void OpenComPortConfig(QWidget* parent) {
    auto* dlg = new QDialog(parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowTitle("COM Port Configuration...");
    auto* form = new QFormLayout;

    auto* port = new QComboBox(dlg);
    port->setEditable(true);
    port->setToolTip("A port of the list, or a device path such as /dev/ttyUSB0");
    auto* scan = new QPushButton("PortScan", dlg);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(port, 1);
    portRow->addWidget(scan);
    form->addRow("Port:", portRow);
    FillPorts(port);
    QObject::connect(scan, &QPushButton::clicked, dlg, [port] { FillPorts(port); });

    auto* rate = new QComboBox(dlg);
    int rateRow = -1;
    for (size_t i = 0; i < kBaudRateRows; ++i) {
        if (BaudRateTable[i].userOnly) continue;
        if (BaudRateTable[i].rate == g_cfg.BAUDRATE) rateRow = rate->count();
        rate->addItem(BaudRateTable[i].label, BaudRateTable[i].rate);
    }
    auto* user = new QCheckBox("User defined: ", dlg);
    auto* userRate = new QLineEdit(dlg);
    userRate->setValidator(new QIntValidator(1, 100000000, userRate));
    if (rateRow < 0 || g_cfg.USRDEFBAUD) {
        user->setChecked(true);
        userRate->setText(QString::number(g_cfg.BAUDRATE));
    } else {
        rate->setCurrentIndex(rateRow);
    }
    auto* rateLine = new QHBoxLayout;
    rateLine->addWidget(rate);
    rateLine->addWidget(user);
    rateLine->addWidget(userRate);
    form->addRow("Baud rate:", rateLine);

    auto* bits = new QComboBox(dlg);
    for (int b = 5; b <= 8; ++b) bits->addItem(QString::number(b), b);
    bits->setCurrentIndex(std::clamp<int>(g_cfg.BYTESIZE, 5, 8) - 5);
    form->addRow("Data bits:", bits);

    auto* parity = new QComboBox(dlg);
    for (int i = 0; i < 5; ++i) {
        parity->addItem(kParityNames[i], kParityValues[i]);
        if (kParityValues[i] == g_cfg.PARITY) parity->setCurrentIndex(i);
    }
    form->addRow("Parity:", parity);

    auto* stop = new QComboBox(dlg);
    stop->addItems({"1", "1.5", "2"});
    stop->setCurrentIndex(std::min<int>(g_cfg.STOPBITS, 2));
    form->addRow("Stop bits:", stop);

    auto* dtrDsr = new QCheckBox("DTR/DSR", dlg);
    auto* rtsCts = new QCheckBox("RTS/CTS", dlg);
    auto* xonXoff = new QCheckBox("XON/XOFF", dlg);
    dtrDsr->setChecked(g_cfg.FLOWCTRL & 0x01);
    rtsCts->setChecked(g_cfg.FLOWCTRL & 0x02);
    xonXoff->setChecked(g_cfg.FLOWCTRL & 0x04);
    // A line set up as a plain output cannot also be a handshake.
    if (g_cfg.FLOWCTRL & 0x08) {
        dtrDsr->setChecked(false);
        dtrDsr->setEnabled(false);
    }
    if (g_cfg.FLOWCTRL & 0x10) {
        rtsCts->setChecked(false);
        rtsCts->setEnabled(false);
    }
    auto* flow = new QHBoxLayout;
    flow->addWidget(dtrDsr);
    flow->addWidget(rtsCts);
    flow->addWidget(xonXoff);
    form->addRow("Flow control:", flow);

    auto* brk = new QPushButton("Send Break", dlg);
    auto* dtr = new QPushButton("DTR Toggle", dlg);
    QObject::connect(brk, &QPushButton::clicked, dlg, [] { SendBreak(); });
    QObject::connect(dtr, &QPushButton::clicked, dlg, [] { ToggleDtr(); });
    auto* lineButtons = new QHBoxLayout;
    lineButtons->addWidget(brk);
    lineButtons->addWidget(dtr);
    form->addRow(lineButtons);
    auto* autoReconnect = new QCheckBox("Reconnect at once when the device comes back", dlg);
    autoReconnect->setChecked(g_cfg.COMPORT_AUTORECONNECT != 0);
    form->addRow(autoReconnect);
    form->addRow(new QLabel(AltPortLine(), dlg));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dlg);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dlg, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dlg, [=] {
        ComPortChoice c;
        c.port = PortOfEntry(port->currentText().toStdString());
        if (c.port < 0) c.port = 0;
        c.rate = rate->currentData().toInt();
        c.userDefined = user->isChecked();
        c.userRate = userRate->text().toInt();
        c.dataBits = bits->currentData().toInt();
        c.parity = parity->currentData().toInt();
        c.stopBits = stop->currentIndex();
        c.flow = (dtrDsr->isChecked() ? 0x01 : 0) | (rtsCts->isChecked() ? 0x02 : 0) |
                 (xonXoff->isChecked() ? 0x04 : 0);
        g_cfg.COMPORT_AUTORECONNECT = autoReconnect->isChecked() ? 1 : 0;
        dlg->accept();
        ComPortConfigure(c);
    });
    auto* top = new QVBoxLayout(dlg);
    top->addLayout(form);
    top->addWidget(buttons);
    dlg->show();
}
OXEL_DIALOG("COM Port Configuration...", OpenComPortConfig);

// The control dialog: the line actions of the tool bar, the line levels and
// the connection state, kept current while it is open.
void OpenComPortControl(QWidget* parent) {
    auto* dlg = new QDialog(parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowTitle("COM Port Control");
    auto* grid = new QGridLayout(dlg);
    auto* state = new QLabel(dlg);
    auto* lines = new QLabel(dlg);
    grid->addWidget(state, 0, 0, 1, 3);
    grid->addWidget(lines, 1, 0, 1, 3);
    struct Action { const char* text; void (*run)(); };
    static const Action kActions[] = {
        {"Disconnect", [] { if (BackendConnected()) CloseConnection(); }},
        {"Reconnect", BackendReconnectCommand},
        {"Next baud rate", [] { CycleBaudRate(); }},
        {"DTR Toggle", [] { ToggleDtr(); }},
        {"RTS Toggle", [] { ToggleRts(); }},
        {"Send Break", [] { SendBreak(); }},
    };
    int i = 0;
    for (const auto& a : kActions) {
        auto* b = new QPushButton(a.text, dlg);
        grid->addWidget(b, 2 + i / 3, i % 3);
        QObject::connect(b, &QPushButton::clicked, dlg, [run = a.run] { run(); });
        ++i;
    }
    auto* config = new QPushButton("COM Port Configuration...", dlg);
    grid->addWidget(config, 4, 0, 1, 3);
    QObject::connect(config, &QPushButton::clicked, dlg, [dlg] { OpenComPortConfig(dlg->parentWidget()); });
    auto refresh = [state, lines] {
        state->setText(QString::fromStdString(BackendStatusText()) + "    " + AltPortLine());
        lines->setText(QString("DTR %1   RTS %2").arg(DtrOn() ? "on" : "off", RtsOn() ? "on" : "off"));
    };
    refresh();
    auto* timer = new QTimer(dlg);
    QObject::connect(timer, &QTimer::timeout, dlg, refresh);
    timer->start(500);
    dlg->show();
}
OXEL_DIALOG("COM Port Control", OpenComPortControl);

}  // namespace
