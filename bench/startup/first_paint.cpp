// Starts a window program on the X display this runs on and reports, per run, the time from the
// start of the process until its window's first pixels are on the screen, and its resident
// memory once idle. The display's root is black (Xvfb -br) and a Qt window shows nothing until
// it paints, so the first non-black pixel on the screen is the first paint.
//
//   first_paint NAME RUNS PROGRAM
// prints "NAME_first_paint MEDIAN ms" and "NAME_idle_rss MEDIAN KiB".

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

constexpr int kPaintTimeoutMs = 10000;
constexpr int kIdleSettleMs = 1000;

bool screenHasPaint(QScreen& screen)
{
    const QImage image = screen.grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); y += 2) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); x += 2) {
            if ((line[x] & 0xFFFFFF) != 0) {
                return true;
            }
        }
    }
    return false;
}

long residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    // procfs files report no size: read them whole rather than asking for the end.
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

template <class T> T median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? T{} : values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: first_paint NAME RUNS PROGRAM\n");
        return 2;
    }
    const QString& name = args[1];
    const int runs = std::clamp(args[2].toInt(), 1, 50);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr || screenHasPaint(*screen)) {
        std::fprintf(stderr, "first_paint needs an empty display with a black root (Xvfb -br)\n");
        return 2;
    }

    std::vector<double> paintMs;
    std::vector<long> rss;
    for (int run = 0; run < runs; ++run) {
        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        QElapsedTimer timer;
        timer.start();
        program.start(args[3], {});
        if (!program.waitForStarted(kPaintTimeoutMs)) {
            std::fprintf(stderr, "%s: could not start\n", qPrintable(args[3]));
            return 1;
        }
        bool painted = false;
        while (!painted && timer.elapsed() < kPaintTimeoutMs &&
               program.state() == QProcess::Running) {
            painted = screenHasPaint(*screen);
        }
        const double elapsed = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        if (!painted) {
            std::fprintf(stderr, "%s: no window painted\n", qPrintable(args[3]));
            program.kill();
            program.waitForFinished();
            return 1;
        }
        paintMs.push_back(elapsed);
        QThread::msleep(kIdleSettleMs);
        rss.push_back(residentKiB(program.processId()));
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        if (!program.waitForFinished(kPaintTimeoutMs)) {
            program.kill();
            program.waitForFinished();
        }
        // The next run starts from an empty screen again.
        for (int wait = 0; wait < 100 && screenHasPaint(*screen); ++wait) {
            QThread::msleep(10);
        }
    }
    std::printf("%s_first_paint %.1f ms\n", qPrintable(name), median(paintMs));
    std::printf("%s_idle_rss %ld KiB\n", qPrintable(name), median(rss));
    return 0;
}
