// tessaro: the window application. The only argument is a file to open.
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include "MainFrame.h"
#include "Prompts.h"
#include "SettingsStore.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessaro"));
    QApplication::setApplicationVersion(QStringLiteral(TESSARO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("tessaro"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tessaro/tessaro.svg")));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A workbench for H.263+ video coding"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("A video file to open"));
    parser.process(app);
    const QStringList files = parser.positionalArguments();

    tessaro::FileSettingsStore store(tessaro::DefaultSettingsPath());
    store.SetProblemHandler([](const std::string& message) { qWarning("tessaro: %s", message.c_str()); });
    tessaro::shell::Prompts prompts;
    tessaro::shell::MainFrame frame(store, prompts);
    const QString file = files.isEmpty() ? QString() : files.first();
    // Shown first, so that a window opened now is sized within the frame's real client area.
    frame.show();
    if (!file.isEmpty()) frame.OpenFile(file);
    if (!frame.settings().general.StartupFile.empty()) {
        frame.OpenFile(QString::fromStdString(frame.settings().general.StartupFile));
    }
    if (!file.isEmpty()) frame.OpenFile(file);
    return app.exec();
}
