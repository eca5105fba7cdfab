// Program entry: the application object, the command-line options, the main window and the
// message loop. Options: --port NAME, --baud N, --address N (start values, as if chosen by
// the user), --open (press "Открыть" at start), --page N (the page to show, as if clicked;
// after --open it waits until the connection had time to finish), --screenshot FILE and
// --quit-after SECONDS (save a PNG of the window and quit).
#include "main_window.h"
#include "program.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <exception>

namespace {

// Time given to the connection job before --page switches pages.
constexpr int ConnectSettleMs = 1500;

std::optional<int> NumberOption(const QCommandLineParser& parser, const QString& name, bool& bad) {
    if (!parser.isSet(name))
        return std::nullopt;
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok) {
        std::fprintf(stderr, "--%s needs a whole number, not \"%s\"\n", qPrintable(name),
                     qPrintable(parser.value(name)));
        bad = true;
    }
    return value;
}

int Run(QApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription("VQ31 sensor install service");
    parser.addHelpOption();
    parser.addOptions({
        {"port", "Serial port to use (device path).", "NAME"},
        {"baud", "Link speed in bit/s.", "N"},
        {"address", "Device bus address.", "N"},
        {"open", "Open the port and identify the device at start."},
        {"page", "Page to show at start (0 to 3).", "N"},
        {"screenshot", "Save a PNG of the window before quitting.", "FILE"},
        {"quit-after", "Quit after this many seconds.", "SECONDS"},
    });
    parser.process(app);

    bool bad = false;
    vq31::app::ProgramOptions options;
    if (parser.isSet("port"))
        options.port = parser.value("port");
    options.baud = NumberOption(parser, "baud", bad);
    options.address = NumberOption(parser, "address", bad);
    const auto page = NumberOption(parser, "page", bad);
    std::optional<double> quitAfter;
    if (parser.isSet("quit-after")) {
        bool ok = false;
        quitAfter = parser.value("quit-after").toDouble(&ok);
        if (!ok || *quitAfter < 0) {
            std::fprintf(stderr, "--quit-after needs a number of seconds\n");
            bad = true;
        }
    }
    const QString screenshot = parser.value("screenshot");
    if (!screenshot.isEmpty() && !quitAfter)
        quitAfter = 2.0;
    if (bad)
        return 2;

    vq31::app::Program program(options);
    vq31::app::MainWindow& window = program.Window();
    window.show();
    const bool open = parser.isSet("open");
    if (open)
        window.BtnPortOpen->click();
    if (page && *page >= 0 && *page < window.PcMain->count()) {
        // As a click: runs the page's load step. After --open the connection goes first.
        QTimer::singleShot(open ? ConnectSettleMs : 0, &window,
                           [&window, p = *page] { window.PcMain->setCurrentIndex(p); });
    }
    int status = 0;
    if (quitAfter) {
        QTimer::singleShot(int(*quitAfter * 1000), &app, [&] {
            if (!screenshot.isEmpty() && !window.grab().save(screenshot, "PNG")) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(screenshot));
                status = 1;
            }
            window.close();
            app.quit(); // also ends a modal box's loop
        });
    }
    const int loop = app.exec();
    program.Stop();
    return status != 0 ? status : loop;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    vq31::app::KeepCNumberFormat();
    QApplication::setApplicationName("vq31-install-service");
    try {
        return Run(app);
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "vQ31 Install Service", QString::fromUtf8(e.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, "vQ31 Install Service", QString());
    }
    return 1;
}
