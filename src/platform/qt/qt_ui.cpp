#include "platform/qt/qt_ui.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <cmath>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QScreen>
#include <QThread>
#include <QUrl>

#include "platform/qt/mainwindow.h"

namespace {

std::map<std::string, DialogFactory>& Dialogs() {
    static std::map<std::string, DialogFactory> d;
    return d;
}

QMessageBox::StandardButtons ButtonsFor(unsigned style) {
    switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL: return QMessageBox::Ok | QMessageBox::Cancel;
    case MB_ABORTRETRYIGNORE: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case MB_YESNOCANCEL: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MB_YESNO: return QMessageBox::Yes | QMessageBox::No;
    case MB_RETRYCANCEL: return QMessageBox::Retry | QMessageBox::Cancel;
    default: return QMessageBox::Ok;
    }
}

QMessageBox::Icon IconFor(unsigned style) {
    switch (style & MB_ICONMASK) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONEXCLAMATION: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

int AnswerFor(int button) {
    switch (button) {
    case QMessageBox::Ok: return IDOK;
    case QMessageBox::Cancel: return IDCANCEL;
    case QMessageBox::Abort: return IDABORT;
    case QMessageBox::Retry: return IDRETRY;
    case QMessageBox::Ignore: return IDIGNORE;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    default: return IDCANCEL;
    }
}

// A 16-bit mono PCM WAV of a sine tone.
QByteArray ToneWav(int freqHz, int ms) {
    const int rate = 22050;
    const int samples = rate * ms / 1000;
    QByteArray pcm;
    pcm.reserve(samples * 2);
    for (int i = 0; i < samples; i++) {
        auto v = static_cast<int16_t>(12000 * std::sin(2 * M_PI * freqHz * i / rate));
        pcm.append(static_cast<char>(v & 0xFF));
        pcm.append(static_cast<char>((v >> 8) & 0xFF));
    }
    auto le32 = [](QByteArray& b, uint32_t v) {
        for (int i = 0; i < 4; i++) b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto le16 = [](QByteArray& b, uint16_t v) {
        b.append(static_cast<char>(v & 0xFF));
        b.append(static_cast<char>(v >> 8));
    };
    QByteArray w("RIFF");
    le32(w, 36 + pcm.size());
    w.append("WAVEfmt ");
    le32(w, 16);
    le16(w, 1);
    le16(w, 1);
    le32(w, rate);
    le32(w, rate * 2);
    le16(w, 2);
    le16(w, 16);
    w.append("data");
    le32(w, pcm.size());
    return w + pcm;
}

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

}  // namespace

std::map<std::string, ModalDialogFn>& ModalDialogs() {
    static std::map<std::string, ModalDialogFn> d;
    return d;
}

bool RegisterModalDialog(const char* name, ModalDialogFn fn) {
    ModalDialogs()[name] = std::move(fn);
    return true;
}

bool RegisterDialog(const char* name, DialogFactory factory) {
    Dialogs()[name] = std::move(factory);
    return true;
}

QtUi::QtUi(MainWindow* window) : window_(window) {}

void QtUi::OnGui(std::function<void()> fn, bool wait) {
    if (QThread::currentThread() == qApp->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(qApp, std::move(fn),
                              wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

int QtUi::MessageBox(unsigned style, const std::string& title, const std::string& text) {
    int answer = IDCANCEL;
    OnGui([&] {
        QMessageBox box(IconFor(style), Q(title), Q(text), ButtonsFor(style), window_);
        if (!(style & MB_MODELESS)) {
            answer = AnswerFor(box.exec());
            return;
        }
        // The caller still waits; only the window stays usable meanwhile.
        box.setWindowModality(Qt::NonModal);
        QEventLoop loop;
        QObject::connect(&box, &QMessageBox::finished, &loop, &QEventLoop::quit);
        box.show();
        loop.exec();
        answer = AnswerFor(box.standardButton(box.clickedButton()));
    }, true);
    return answer;
}

std::optional<std::string> QtUi::AskText(const std::string& title, const std::string& prompt,
                                         const std::string& initial) {
    std::optional<std::string> result;
    OnGui([&] {
        bool ok = false;
        QString t = QInputDialog::getText(window_, Q(title), Q(prompt), QLineEdit::Normal,
                                          Q(initial), &ok);
        if (ok) result = t.toStdString();
    }, true);
    return result;
}

std::optional<std::string> QtUi::ChooseFile(const UiFileRequest& req) {
    std::optional<std::string> result;
    OnGui([&] {
        QString f;
        if (req.folder)
            f = QFileDialog::getExistingDirectory(window_, Q(req.title), Q(req.startDir));
        else if (req.save)
            f = QFileDialog::getSaveFileName(window_, Q(req.title), Q(req.startDir), Q(req.filter),
                                             nullptr, QFileDialog::DontConfirmOverwrite);
        else
            f = QFileDialog::getOpenFileName(window_, Q(req.title), Q(req.startDir), Q(req.filter));
        if (!f.isEmpty()) result = f.toStdString();
    }, true);
    return result;
}

void QtUi::SetTitle(const std::string& title) {
    OnGui([this, title] { window_->setWindowTitle(Q(title)); }, false);
}
void QtUi::StatusRefresh() { OnGui([this] { window_->RefreshStatus(); }, false); }
void QtUi::MenuEnable(int id, bool on) { OnGui([this, id, on] { window_->EnableCommand(id, on); }, false); }
void QtUi::MenuCheck(int id, bool on) { OnGui([this, id, on] { window_->CheckCommand(id, on); }, false); }
void QtUi::TraceText(const std::string& text) { OnGui([this, text] { window_->SetTraceText(Q(text)); }, false); }
void QtUi::TraceCaption(const std::string& c) { OnGui([this, c] { window_->SetTraceCaption(Q(c)); }, false); }
void QtUi::Relayout() { OnGui([this] { window_->Relayout(); }, false); }
void QtUi::SetWindowPos(int x, int y) { OnGui([this, x, y] { window_->move(x, y); }, false); }

int QtUi::VirtualScreenWidth() {
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->virtualGeometry().width() : 1920;
}

void QtUi::ConsoleBytes(const char*, size_t) {}
void QtUi::ConsoleInvalidate() { window_->ConsoleChanged(); }

void QtUi::SetClipboard(const std::string& text) {
    OnGui([text] { QGuiApplication::clipboard()->setText(Q(text)); }, true);
}

std::optional<std::string> QtUi::GetClipboard() {
    std::optional<std::string> r;
    OnGui([&] {
        QString t = QGuiApplication::clipboard()->text();
        if (!t.isNull()) r = t.toStdString();
    }, true);
    return r;
}

bool QtUi::OpenUrl(const std::string& urlOrPath) {
    bool ok = false;
    OnGui([&] {
        QUrl url = urlOrPath.find("://") != std::string::npos ? QUrl(Q(urlOrPath))
                                                              : QUrl::fromLocalFile(Q(urlOrPath));
        ok = QDesktopServices::openUrl(url);
    }, true);
    return ok;
}

bool QtUi::ShowDialog(const std::string& name) {
    auto it = Dialogs().find(name);
    if (it == Dialogs().end()) return false;
    OnGui([this, fn = it->second] { fn(window_); }, false);
    return true;
}

int QtUi::RunDialog(const std::string& name) {
    auto it = ModalDialogs().find(name);
    if (it == ModalDialogs().end()) return -1;
    int accepted = 0;
    OnGui([&] { accepted = it->second(window_) ? 1 : 0; }, true);
    return accepted;
}

std::optional<std::string> QtUi::AskQuestion(const UiQuestion& q) {
    std::optional<std::string> result;
    OnGui([&] { result = RunQuestion(window_, q); }, true);
    return result;
}

int QtUi::ShowBitmap(const UiBitmap& bitmap, bool replace) {
    int shown = 0;
    OnGui([&] { shown = ShowBitmapWindow(window_, bitmap, replace); }, true);
    return shown;
}

void QtUi::SetWindowState(UiWindowState state) {
    OnGui([this, state] {
        switch (state) {
        case UiWindowState::Restore: window_->showNormal(); break;
        case UiWindowState::Minimise: window_->showMinimized(); break;
        case UiWindowState::Raise:
            window_->show();
            window_->raise();
            window_->activateWindow();
            break;
        }
    }, false);
}

// A real tone through the sound server's player when one is installed; the
// desktop's bell otherwise.
void QtUi::Beep(int freqHz, int ms) {
    QString wav = QDir::temp().filePath(QString("oxel-beep-%1-%2.wav").arg(freqHz).arg(ms));
    if (!QFile::exists(wav)) {
        QFile f(wav);
        if (f.open(QIODevice::WriteOnly)) f.write(ToneWav(freqHz, ms));
    }
    for (const char* player : {"pw-play", "paplay", "aplay"}) {
        QString exe = QStandardPaths::findExecutable(player);
        if (!exe.isEmpty() && QProcess::startDetached(exe, {wav})) return;
    }
    OnGui([] { QApplication::beep(); }, false);
}

void QtUi::Quit(int status) {
    OnGui([status] { QApplication::exit(status); }, false);
}
