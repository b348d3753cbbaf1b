// The bare web-channel echo the host's command round trip is compared with: the page calls
// the slot "ping" through QWebChannel, and the slot answers at once by running "pong(n)"
// in the page. The page times each round trip and hands all timings to "finish", which
// prints them as one JSON line on stdout and ends the program.
//
// With --ruffle, the page instead plays the round-trip movie (bench.swf) in Ruffle and
// answers its commands without any host: in the page itself (--mode local) or through
// the slot "command", which answers by running the call in the page (--mode channel).
// With --mode call the slot answers as the host does: it waits for each call's answer
// before it takes the next command (a command that arrives meanwhile waits its turn).
// The movie's own timings are printed the same way. These show what Ruffle, Ruffle with
// a bare channel, and Ruffle with a bare channel that waits for its calls cost in a round
// trip.
//
// With --ruffle and --mode playback, the page plays the playback movie with the
// configuration text CONFIG and prints each of the movie's commands as a line
// "event COMMAND ARGS" until it is ended: the movie in a bare Qt WebEngine view, the
// engine set up as the host sets it up (EngineSetup), nothing else of the host.
//
//   bench_echo [--ruffle RUFFLE_DIR MOVIE --mode local|channel|call] [ROUNDS [WARMUP]]
//   bench_echo --ruffle RUFFLE_DIR MOVIE --mode playback --config CONFIG [--quick]
//
// With --quick the playback page is shown by a Qt Quick WebEngineView in a QQuickWindow,
// embedded in a widget with QWidget::createWindowContainer, instead of QWebEngineView
// (whose QQuickWidget renders each frame offscreen and composites it again); the movie's
// commands then reach the program as console lines.
#include "shell/player/EngineSetup.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QMap>
#include <QQueue>
#include <QTimer>
#include <QUrlQuery>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QQuickWebEngineProfile>
#include <QtWebEngineQuick>

#include <cstdio>
#include <unistd.h>

namespace {

// The page and the channel's script, served through a scheme of the same kind as the
// host's own.
class EchoScheme : public QWebEngineUrlSchemeHandler {
public:
    EchoScheme(QString ruffleDir, QString movie, QObject *parent)
        : QWebEngineUrlSchemeHandler(parent), ruffleDir_(std::move(ruffleDir)),
          movie_(std::move(movie))
    {
    }
    void requestStarted(QWebEngineUrlRequestJob *job) override
    {
        const QString path = job->requestUrl().path();
        QString file;
        QByteArray type;
        if (path == u"/echo.html" || path == u"/ruffle.html") {
            file = QStringLiteral(":/echo") + path;
            type = "text/html";
        } else if (path == u"/qwebchannel.js") {
            file = QStringLiteral(":/qtwebchannel/qwebchannel.js");
            type = "text/javascript";
        } else if (path == u"/movie.swf" && !movie_.isEmpty()) {
            file = movie_;
            type = "application/x-shockwave-flash";
        } else if (path.startsWith(u"/ruffle/") && !ruffleDir_.isEmpty() &&
                   !path.mid(8).contains(u'/') && !path.mid(8).startsWith(u'.')) {
            file = ruffleDir_ + path.mid(7);
            type = path.endsWith(u".wasm") ? "application/wasm"
                   : path.endsWith(u".js") ? "text/javascript"
                                            : "application/octet-stream";
        }
        auto *device = new QFile(file, job);
        if (file.isEmpty() || !device->open(QIODevice::ReadOnly)) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        job->reply(type, device);
    }

private:
    QString ruffleDir_;
    QString movie_;
};

class Echo : public QObject {
    Q_OBJECT
public:
    Echo(QWebEnginePage *page, bool waitForAnswers) : page_(page), waitForAnswers_(waitForAnswers)
    {
    }

public slots:
    void ping(int n) { page_->runJavaScript(QStringLiteral("pong(%1)").arg(n)); }
    void command(const QString &, const QString &answer)
    {
        if (!waitForAnswers_) {
            page_->runJavaScript(QStringLiteral("answer('ConfigDataReadComplete', '%1')").arg(answer));
            return;
        }
        waiting_.enqueue(answer);
        if (waiting_.size() == 1)
            call();
    }
    void event(const QString &command, const QString &args)
    {
        std::printf("event %s %s\n", qPrintable(command), qPrintable(args));
        std::fflush(stdout);
    }
    void finish(const QString &text)
    {
        // The movie's result, "bench_result median=..;...;times=a,b,...", as the page's JSON.
        QString json = text;
        if (text.startsWith(u"bench_result ")) {
            QMap<QString, QString> fields;
            for (const QString &part : text.mid(13).trimmed().split(u';'))
                fields[part.section(u'=', 0, 0)] = part.section(u'=', 1);
            json = QStringLiteral("{\"times\":[%1],\"clock\":%2}")
                       .arg(fields.value("times"), fields.value("clock", "0"));
        }
        std::printf("%s\n", qPrintable(json));
        std::fflush(stdout);
        QTimer::singleShot(0, qApp, &QApplication::quit);
    }

private:
    // Runs the first waiting answer; the next one goes only once the page has answered.
    void call()
    {
        page_->runJavaScript(
            QStringLiteral("answer('ConfigDataReadComplete', '%1')").arg(waiting_.head()),
            [this](const QVariant &) {
                waiting_.dequeue();
                if (!waiting_.isEmpty())
                    call();
            });
    }

    QWebEnginePage *page_;
    bool waitForAnswers_;
    QQueue<QString> waiting_;

};

// The playback page's parameters: the configuration the movie reads, and from the
// environment BENCH_PAGE_LOG=info (Ruffle's log at that level, e.g. the renderer it chose,
// on stderr through the engine's "js" logging category) and BENCH_RENDERER=webgl (or
// wgpu-webgl, canvas: Ruffle's preferred renderer).
void AddPlaybackQuery(QUrl &url, const QString &config)
{
    QUrlQuery query(url);
    query.addQueryItem(QStringLiteral("config"), config);
    if (!qEnvironmentVariableIsEmpty("BENCH_PAGE_LOG"))
        query.addQueryItem(QStringLiteral("log"), qEnvironmentVariable("BENCH_PAGE_LOG"));
    if (!qEnvironmentVariableIsEmpty("BENCH_RENDERER"))
        query.addQueryItem(QStringLiteral("renderer"), qEnvironmentVariable("BENCH_RENDERER"));
    url.setQuery(query);
}

// The playback page in a Qt Quick WebEngineView drawn straight into its QQuickWindow,
// which a widget window holds (createWindowContainer), as the host holds its view.
int RunQuick(const QString &ruffleDir, const QString &movie, const QString &config)
{
    auto *profile = new QQuickWebEngineProfile(qApp);
    profile->installUrlSchemeHandler("echo", new EchoScheme(ruffleDir, movie, profile));
    QUrl url(QStringLiteral("echo://app/ruffle.html?mode=playback"));
    AddPlaybackQuery(url, config);

    QQuickWindow window;
    QQmlEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("pageProfile"), profile);
    engine.rootContext()->setContextProperty(QStringLiteral("pageUrl"), url);
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nimport QtWebEngine\n"
                      "WebEngineView { profile: pageProfile; url: pageUrl; backgroundColor: 'black'\n"
                      "  onJavaScriptConsoleMessage: function(level, message, line, source) {\n"
                      "    if (message.startsWith('event ')) console.info(message) } }",
                      QUrl());
    auto *view = qobject_cast<QQuickItem *>(component.create());
    if (!view) {
        std::fprintf(stderr, "bench_echo: %s\n", qPrintable(component.errorString()));
        return 1;
    }
    view->setParentItem(window.contentItem());
    view->setSize(QSizeF(800, 600));
    // The movie's commands, printed as the widget view's channel slot prints them.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
        if (text.startsWith(u"event ")) {
            std::printf("%s\n", qPrintable(text));
            std::fflush(stdout);
        }
    });
    QWidget holder;
    QWidget *container = QWidget::createWindowContainer(&window, &holder);
    container->setGeometry(0, 0, 800, 600);
    holder.resize(800, 600);
    holder.show();
    const int status = QApplication::exec();
    delete view;
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    QString ruffleDir, movie, mode, config;
    bool quick = false;
    QList<QByteArray> positional;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--ruffle" && i + 2 < argc) {
            ruffleDir = QString::fromLocal8Bit(argv[++i]);
            movie = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--mode" && i + 1 < argc) {
            mode = QString::fromLatin1(argv[++i]);
        } else if (arg == "--quick") {
            quick = true;
        } else if (arg == "--config" && i + 1 < argc) {
            config = QString::fromLocal8Bit(argv[++i]);
        } else {
            positional << arg;
        }
    }
    const QByteArray rounds = positional.size() > 0 ? positional[0] : QByteArray("1000");
    const QByteArray warmup = positional.size() > 1 ? positional[1] : QByteArray("20");
    if (mode == u"playback") {
        // The engine set up exactly as the host sets it up: what is left is the engine.
        EngineSetup::Prepare();
    } else {
        if (::geteuid() == 0) {
            QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
            if (!flags.contains("--no-sandbox"))
                qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --no-sandbox").trimmed());
        }
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "xcb");
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    }
    QWebEngineUrlScheme scheme("echo");
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalAccessAllowed |
                    QWebEngineUrlScheme::CorsEnabled |
                    QWebEngineUrlScheme::ContentSecurityPolicyIgnored);
    QWebEngineUrlScheme::registerScheme(scheme);

    if (quick)
        QtWebEngineQuick::initialize();
    QApplication app(argc, argv);
    if (quick)
        return RunQuick(ruffleDir, movie, config);
    auto *profile = new QWebEngineProfile(&app);
    profile->installUrlSchemeHandler("echo", new EchoScheme(ruffleDir, movie, profile));
    QWebEngineView view;
    auto *page = new QWebEnginePage(profile, &view);
    view.setPage(page);
    QWebChannel channel;
    Echo echo(page, mode == u"call");
    channel.registerObject(QStringLiteral("echo"), &echo);
    page->setWebChannel(&channel);
    view.resize(800, 600);
    view.show();
    QUrl url(QStringLiteral("echo://app/%1?rounds=%2&warmup=%3&mode=%4")
                 .arg(ruffleDir.isEmpty() ? QStringLiteral("echo.html") : QStringLiteral("ruffle.html"),
                      QString::fromLatin1(rounds), QString::fromLatin1(warmup), mode));
    if (mode == u"playback")
        AddPlaybackQuery(url, config);
    page->load(url);
    // Never more than a minute, except when playing until it is ended.
    if (mode != u"playback") {
        QTimer::singleShot(60000, &app, [] {
            std::fprintf(stderr, "bench_echo: no result within 60 s\n");
            QApplication::exit(1);
        });
    }
    const int status = app.exec();
    delete page;
    return status;
}

#include "main.moc"
