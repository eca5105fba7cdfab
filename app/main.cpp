// Program entry: the application object, the command-line options, the main window and the
// message loop. Options: --port NAME, --baud N, --address N (start values, as if chosen by
// the user), --open (press "Открыть" at start), --page N (the page to show, as if clicked;
// after --open it waits until the connection had time to finish), --tare-window (open the
// tare table window once the tare page has loaded, as if "Таблица" was clicked),
// --screenshot FILE and --quit-after SECONDS (save a PNG of the window in front, the tare
// window when it is open, and quit). --help and --version are answered
// before the application object exists, so they work without a display; without a display
// the program says how to start it under a virtual one.
#include "main_window.h"
#include "program.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>

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

void AddOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription("VQ31 sensor install service");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {"port", "Serial port to use (device path).", "NAME"},
        {"baud", "Link speed in bit/s.", "N"},
        {"address", "Device bus address.", "N"},
        {"open", "Open the port and identify the device at start."},
        {"page", "Page to show at start (0 to 3).", "N"},
        {"tare-window", "Open the tare table window after the page has loaded."},
        {"screenshot", "Save a PNG of the window before quitting.", "FILE"},
        {"quit-after", "Quit after this many seconds.", "SECONDS"},
    });
}

void SetNames() {
    QCoreApplication::setApplicationName("vq31-install-service");
    QCoreApplication::setApplicationVersion(VQ31_VERSION);
}

bool AsksForHelpOrVersion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--")
            break;
        if (a == "--help" || a == "-h" || a == "-?" || a == "--help-all" || a == "--version" ||
            a == "-v")
            return true;
    }
    return false;
}

// On X11 and Wayland systems the window needs one of their displays, unless a platform was
// chosen (QT_QPA_PLATFORM, -platform): say how to get one rather than end in Qt's plugin
// message.
bool DisplayMissing(int argc, char** argv) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "-platform")
            return false;
    const auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v != nullptr && *v != '\0';
    };
    return !set("QT_QPA_PLATFORM") && !set("DISPLAY") && !set("WAYLAND_DISPLAY");
#else
    (void)argc, (void)argv;
    return false;
#endif
}

int Run(QApplication& app) {
    QCommandLineParser parser;
    AddOptions(parser);
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
    if (parser.isSet("tare-window")) {
        // After the page's own load step (the hub read) has had its time.
        QTimer::singleShot((open ? ConnectSettleMs : 0) + ConnectSettleMs, &window,
                           [&window] { window.BtnHubTareTable->click(); });
    }
    int status = 0;
    if (quitAfter) {
        QTimer::singleShot(int(*quitAfter * 1000), &app, [&] {
            QWidget* front = QApplication::activeModalWidget();
            if (front == nullptr)
                front = &window;
            if (!screenshot.isEmpty() && !front->grab().save(screenshot, "PNG")) {
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
    if (AsksForHelpOrVersion(argc, argv)) {
        QCoreApplication core(argc, argv);
        SetNames();
        QCommandLineParser parser;
        AddOptions(parser);
        parser.process(core); // prints the help or the version and ends the program
        return 0;
    }
    if (DisplayMissing(argc, argv)) {
        std::fprintf(stderr, "vq31-install-service: no display is available for the window.\n"
                             "Start it under a virtual display:\n"
                             "    xvfb-run -a -s \"-screen 0 1280x1024x24\" vq31-install-service "
                             "[OPTIONS]\n"
                             "or use the command-line tool vq31ctl, which needs no window.\n");
        return 1;
    }
    QApplication app(argc, argv);
    vq31::app::KeepCNumberFormat();
    SetNames();
    try {
        return Run(app);
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "vQ31 Install Service", QString::fromUtf8(e.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, "vQ31 Install Service", QString());
    }
    return 1;
}
