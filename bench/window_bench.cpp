// The window as a user meets it: a click on a command, a key typed, a paste, an idle caret. Boxes
// are found by name and reached through their properties, keys and clicks go through QTest and
// painting is synchronous, so this one file measures our text box and the QLineEdit and
// QPlainTextEdit it replaced alike. Everything runs on the offscreen platform.
#include "window_bench.h"

#include "Form1.h"
#include "bench_data.h"
#include "cipher/cipher.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QImage>
#include <QKeySequence>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <sys/resource.h>
#include <vector>

namespace morvalen::bench {
namespace {

constexpr std::int64_t kMebibyte = 1 << 20;

// The old boxes take seconds for one keystroke into a 70 MB key, so they get fewer iterations.
struct Iterations
{
    std::int64_t keystrokes;
    std::int64_t pastes;
    std::int64_t copies;
    std::int64_t deletes; // each sets the key anew, outside the timing
};

constexpr Iterations kOwnBoxIterations {50, 20, 10, 5};
constexpr Iterations kOldBoxIterations {3, 5, 3, 3};
constexpr std::int64_t kLineChars = 1'000'000;

std::size_t size(std::int64_t n)
{
    return static_cast<std::size_t>(n);
}

// Lower case, so that a decryption that gives upper case back proves it went through the cipher.
const std::string& plainHex(std::size_t digits)
{
    return morvalen::bench::plainHex(digits, "0123456789abcdef");
}

QString plainText(std::size_t digits)
{
    const std::string& hex = plainHex(digits);
    return QString::fromLatin1(hex.data(), static_cast<qsizetype>(hex.size()));
}

// The key of an encryption of that many digits, made once per size: 70 MB for a mebibyte.
const QString& keyText(std::size_t digits)
{
    static std::map<std::size_t, QString> cache;
    QString& key = cache[digits];
    if (key.isEmpty()) {
        std::string hex = plainHex(digits);
        const std::string bits = morvalen::encrypthexbytes(hex).encryptingBits;
        key = QString::fromLatin1(bits.data(), static_cast<qsizetype>(bits.size()));
    }
    return key;
}

// QPlainTextEdit keeps its text in "plainText"; QLineEdit and our box in "text".
const char* textProperty(const QWidget* box)
{
    return box->inherits("QPlainTextEdit") ? "plainText" : "text";
}

void setText(QWidget* box, const QString& text)
{
    box->setProperty(textProperty(box), text);
}

QString text(const QWidget* box)
{
    return box->property(textProperty(box)).toString();
}

bool isOwnBox(const QWidget* box)
{
    return !box->inherits("QLineEdit") && !box->inherits("QPlainTextEdit");
}

// The widget that paints the text: a scroll area paints it in its viewport.
QWidget* canvas(QWidget* box)
{
    if (auto* area = qobject_cast<QAbstractScrollArea*>(box)) {
        return area->viewport();
    }
    return box;
}

class PaintCounter : public QObject
{
public:
    void watch(QWidget* widget)
    {
        widget->installEventFilter(this);
        m_counts[widget] = 0;
    }
    void reset()
    {
        for (auto& entry : m_counts) {
            entry.second = 0;
        }
    }
    int count(const QWidget* widget) const { return m_counts.at(widget); }
    bool allPainted() const
    {
        return std::all_of(m_counts.begin(), m_counts.end(), [](const auto& entry) { return entry.second > 0; });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++m_counts[watched];
        }
        return false;
    }

private:
    std::map<const QObject*, int> m_counts;
};

// The first binding of a standard key on this platform, as a user would press it.
void press(QWidget* widget, QKeySequence::StandardKey key)
{
    const QKeyCombination combination = QKeySequence::keyBindings(key).value(0)[0];
    QTest::keyClick(widget, combination.key(), combination.keyboardModifiers());
}

struct Window
{
    Window()
    {
        form.show();
        form.activateWindow();
        // The caret blinks only in the active window.
        active = QTest::qWaitForWindowActive(&form);
    }

    QWidget* box(const char* name) { return form.findChild<QWidget*>(QLatin1String(name)); }

    // Paints what the set-up left pending, outside the timing.
    void settle()
    {
        QCoreApplication::processEvents();
        form.repaint();
    }

    // A click in the middle of a box gives it the focus with the caret in the middle of the view.
    bool clickIntoMiddle(QWidget* box)
    {
        QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
        settle();
        return active && box->hasFocus();
    }

    // The named box holding content, with the focus and the caret in the middle of its view;
    // null, and the benchmark skipped, when the window could not give it the focus.
    QWidget* focusBox(benchmark::State& state, const char* name, const QString& content)
    {
        QWidget* box = this->box(name);
        setText(box, content);
        if (clickIntoMiddle(box)) {
            return box;
        }
        state.SkipWithError("the box did not get the focus in an active window");
        return nullptr;
    }

    Form1 form;
    bool active = false;
};

// Whether the box shows text in its first row: dark pixels inside its frame near the top.
bool showsFirstRow(QWidget* box)
{
    const QImage image = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
    constexpr int kInset = 3; // past the frame
    const int bottom = std::min(image.height(), 2 * kInset + box->fontMetrics().lineSpacing() + 4);
    int dark = 0;
    for (int y = kInset; y < bottom; ++y) {
        for (int x = kInset; x < image.width() - kInset; ++x) {
            dark += qGray(image.pixel(x, y)) < 96 ? 1 : 0;
        }
    }
    return dark >= 20;
}

void BM_WindowEncryptDecrypt(benchmark::State& state)
{
    Window window;
    QWidget* boxes[] = {window.box("Text1"), window.box("Text2"), window.box("Text3"), window.box("Text4")};
    const QString plain = plainText(size(state.range(0)));
    setText(boxes[0], plain);
    auto* button = window.form.findChild<QPushButton*>(QStringLiteral("Command10"));
    PaintCounter painted;
    for (QWidget* box : boxes) {
        painted.watch(canvas(box));
    }
    window.settle();
    for (auto _ : state) {
        button->click();
        // Until each box has painted what the command wrote into it.
        painted.reset();
        for (int round = 0; !painted.allPainted(); ++round) {
            if (round == 3) {
                state.SkipWithError("a box did not paint");
                return;
            }
            window.form.repaint();
        }
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    if (text(boxes[3]) != plain.toUpper()) {
        state.SkipWithError("Text4 is not Text1 in upper case");
    } else if (isOwnBox(boxes[2]) && !showsFirstRow(boxes[2])) {
        state.SkipWithError("the key box shows no text");
    }
}

// The same work as the command, on the core alone: a copy of the plain hex to consume, the
// encryption, a copy of the encrypted hex to consume, the decryption.
void BM_CoreEncryptDecrypt(benchmark::State& state)
{
    const std::string& plain = plainHex(size(state.range(0)));
    for (auto _ : state) {
        std::string hex = plain;
        morvalen::EncryptResult result = morvalen::encrypthexbytes(hex);
        std::string encrypted = result.encryptedHex;
        std::string decrypted = morvalen::decrypthexbytes(encrypted, result.encryptingBits);
        benchmark::DoNotOptimize(decrypted.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// "dekrypter" on what the last encryption left: the key is read where it stands in its box.
void BM_WindowDecrypt(benchmark::State& state)
{
    Window window;
    QWidget* text4 = window.box("Text4");
    const QString plain = plainText(size(state.range(0)));
    setText(window.box("Text1"), plain);
    window.form.findChild<QPushButton*>(QStringLiteral("Command10"))->click();
    auto* button = window.form.findChild<QPushButton*>(QStringLiteral("Command1"));
    window.settle();
    for (auto _ : state) {
        state.PauseTiming();
        setText(text4, {});
        window.settle();
        state.ResumeTiming();
        button->click();
        window.form.repaint();
    }
    if (text(text4) != plain.toUpper()) {
        state.SkipWithError("dekrypter did not decrypt");
    }
}

// One key typed where the caret stands and the box repainted. The first one at a new place is the
// one most likely to cost what the whole text costs, so the median and the worst keystroke are
// reported beside the mean. copied: the whole text is copied to the clipboard first, as a user
// keeps a key, so the clipboard holds it while the keys are typed.
void typeInto(benchmark::State& state, const char* name, const QString& content, bool copied = false)
{
    Window window;
    QWidget* box = window.focusBox(state, name, content);
    if (box == nullptr) {
        return;
    }
    if (copied) {
        press(box, QKeySequence::SelectAll);
        press(box, QKeySequence::Copy);
        if (!window.clickIntoMiddle(box)) {
            state.SkipWithError("the box lost the focus");
            return;
        }
    }
    PaintCounter painted;
    painted.watch(canvas(box));
    std::vector<double> milliseconds;
    milliseconds.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        QTest::keyClick(box, '5');
        box->repaint();
        milliseconds.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(milliseconds.begin(), milliseconds.end());
    state.counters["median_ms"] = milliseconds[milliseconds.size() / 2];
    state.counters["worst_ms"] = milliseconds.back();
    state.counters["paints"] = benchmark::Counter(painted.count(canvas(box)), benchmark::Counter::kAvgIterations);
    if (text(box).size() != content.size() + state.iterations()) {
        state.SkipWithError("the box did not take every key");
    } else if (copied && QGuiApplication::clipboard()->text().size() != content.size()) {
        state.SkipWithError("the clipboard does not hold the text copied");
    }
    QGuiApplication::clipboard()->clear();
}

void BM_KeystrokeInKeyBox(benchmark::State& state)
{
    typeInto(state, "Text3", keyText(size(state.range(0))));
}

void BM_KeystrokeInCopiedKeyBox(benchmark::State& state)
{
    typeInto(state, "Text3", keyText(size(state.range(0))), true);
}

void BM_KeystrokeInOneLineBox(benchmark::State& state)
{
    typeInto(state, "Text1", plainText(size(state.range(0))));
}

// What the process spends while the window sits with the focus in a box: the caret's blink and
// whatever else runs. One iteration is five seconds of the event loop.
void idleIn(benchmark::State& state, const char* name, const QString& content)
{
    Window window;
    QWidget* box = window.focusBox(state, name, content);
    if (box == nullptr) {
        return;
    }
    PaintCounter painted;
    painted.watch(canvas(box));
    const auto cpuSeconds = [] {
        rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        const auto seconds
            = [](const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); };
        return seconds(usage.ru_utime) + seconds(usage.ru_stime);
    };
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        const double cpuBefore = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        QEventLoop loop;
        QTimer::singleShot(5000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu += cpuSeconds() - cpuBefore;
    }
    state.counters["cpu_of_core"] = cpu / wall;
    // About two a second prove the blink ran.
    state.counters["paints_per_s"] = painted.count(canvas(box)) / wall;
}

void BM_IdleInKeyBox(benchmark::State& state)
{
    idleIn(state, "Text3", keyText(size(state.range(0))));
}

void BM_IdleInOneLineBox(benchmark::State& state)
{
    idleIn(state, "Text1", plainText(size(state.range(0))));
}

// Pastes content into the empty input box and paints it, then runs after and empties the box again
// outside the timing, each iteration.
template<typename After>
void pasteInto(benchmark::State& state, const QString& content, After&& after)
{
    Window window;
    QGuiApplication::clipboard()->setText(content);
    QWidget* box = window.focusBox(state, "Text1", {});
    if (box == nullptr) {
        return;
    }
    for (auto _ : state) {
        press(box, QKeySequence::Paste);
        box->repaint();
        after(box);
        state.PauseTiming();
        const bool pasted = text(box) == content;
        setText(box, {});
        window.settle();
        state.ResumeTiming();
        if (!pasted) {
            state.SkipWithError("the box does not hold what was pasted");
            break;
        }
    }
    QGuiApplication::clipboard()->clear();
}

void BM_PasteOneMebibyte(benchmark::State& state)
{
    pasteInto(state, plainText(kMebibyte), [](QWidget*) {});
}

void BM_SelectAllCopyKey(benchmark::State& state)
{
    Window window;
    const QString& key = keyText(size(state.range(0)));
    QWidget* box = window.focusBox(state, "Text3", key);
    if (box == nullptr) {
        return;
    }
    for (auto _ : state) {
        press(box, QKeySequence::SelectAll);
        press(box, QKeySequence::Copy);
        state.PauseTiming();
        // Each copy starts from a caret, not from a selection already there.
        press(box, QKeySequence::MoveToStartOfDocument);
        window.settle();
        state.ResumeTiming();
    }
    if (QGuiApplication::clipboard()->text() != key) {
        state.SkipWithError("the clipboard does not hold the key");
    }
    QGuiApplication::clipboard()->clear();
}

void BM_SelectAllDeleteKey(benchmark::State& state)
{
    Window window;
    const QString& key = keyText(size(state.range(0)));
    QWidget* box = window.focusBox(state, "Text3", key);
    if (box == nullptr) {
        return;
    }
    for (auto _ : state) {
        press(box, QKeySequence::SelectAll);
        press(box, QKeySequence::Delete);
        box->repaint();
        state.PauseTiming();
        const bool emptied = text(box).isEmpty();
        setText(box, key);
        window.settle();
        state.ResumeTiming();
        if (!emptied) {
            state.SkipWithError("the key box is not empty");
            break;
        }
    }
}

// One letter under a run of combining marks (U+0301), a single cluster of range(0) bytes, pasted
// into the input box and painted, then the caret to the start and back to the end, each painted.
void BM_PasteClusterOfMarks(benchmark::State& state)
{
    const QString cluster = QLatin1Char('a') + QString(static_cast<qsizetype>(state.range(0)) / 2, QChar(0x0301));
    pasteInto(state, cluster, [](QWidget* box) {
        press(box, QKeySequence::MoveToStartOfLine);
        box->repaint();
        press(box, QKeySequence::MoveToEndOfLine);
        box->repaint();
    });
}

// The process's resident size and its peak since the last reset, in megabytes (Linux).
std::pair<double, double> residentMegabytes()
{
    std::ifstream status("/proc/self/status");
    double resident = 0;
    double peak = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            resident = std::stod(line.substr(6)) * 1024 / 1e6;
        } else if (line.rfind("VmHWM:", 0) == 0) {
            peak = std::stod(line.substr(6)) * 1024 / 1e6;
        }
    }
    return {resident, peak};
}

// Starts the peak over at the resident size, so that what follows is measured on its own.
double restartPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
    return residentMegabytes().first;
}

// The peak of what ran since restartPeak, above the resident size then, as counters.
void reportPeak(benchmark::State& state, double resting, double keyBytes)
{
    state.counters["resting_MB"] = resting;
    state.counters["above_resting_MB"] = residentMegabytes().second - resting;
    state.counters["key_MB"] = keyBytes / 1e6;
}

// The 1 MiB round trip, then the key copied out and read by another program (xclip, as
// UTF8_STRING, the target text editors ask for). Needs an X display: run under xvfb-run with
// QT_QPA_PLATFORM=xcb, inside /usr/bin/time for the peak (bench/window-memory does).
void BM_CopyKeyOut(benchmark::State& state)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        state.SkipWithError("needs an X display (QT_QPA_PLATFORM=xcb)");
        return;
    }
    const std::size_t digits = size(state.range(0));
    Window window;
    setText(window.box("Text1"), plainText(digits));
    window.form.findChild<QPushButton*>(QStringLiteral("Command10"))->click();
    QWidget* key = window.box("Text3");
    if (!window.clickIntoMiddle(key)) {
        state.SkipWithError("the key box did not get the focus");
        return;
    }
    // The reader writes to a file, not to this process: only the window's own memory counts.
    QTemporaryFile out;
    out.open();
    const double resting = restartPeak();
    for (auto _ : state) {
        press(key, QKeySequence::SelectAll);
        press(key, QKeySequence::Copy);
        QProcess reader;
        reader.setStandardOutputFile(out.fileName());
        reader.start(QStringLiteral("xclip"), {"-o", "-selection", "clipboard", "-t", "UTF8_STRING"});
        // The window answers the request from its event loop while the reader runs.
        while (!reader.waitForFinished(1)) {
            QCoreApplication::processEvents();
        }
    }
    // Every nibble's mask group is at least 13 masks of five characters and a bar.
    reportPeak(state, resting, static_cast<double>(out.size()));
    out.seek(out.size() - 1);
    if (out.size() < 66 * static_cast<qint64>(digits) || out.read(1) != "|") {
        state.SkipWithError("the reader did not get the whole key");
    }
}

// The round trip, the key copied, the key box emptied from code (as a restart would leave it)
// and the key pasted back with Ctrl+V: a user putting back a key kept on the clipboard.
void BM_PasteKeyBack(benchmark::State& state)
{
    const std::size_t digits = size(state.range(0));
    Window window;
    setText(window.box("Text1"), plainText(digits));
    window.form.findChild<QPushButton*>(QStringLiteral("Command10"))->click();
    QWidget* key = window.box("Text3");
    const qsizetype length = text(key).size();
    if (!window.clickIntoMiddle(key)) {
        state.SkipWithError("the key box did not get the focus");
        return;
    }
    double resting = 0;
    for (auto _ : state) {
        press(key, QKeySequence::SelectAll);
        press(key, QKeySequence::Copy);
        setText(key, QString());
        state.PauseTiming();
        resting = restartPeak();
        state.ResumeTiming();
        press(key, QKeySequence::Paste);
        key->repaint();
    }
    reportPeak(state, resting, static_cast<double>(length));
    if (text(key).size() != length) {
        state.SkipWithError("the key did not come back whole");
    }
    QGuiApplication::clipboard()->clear();
}

// Whether the window has our boxes: the old one has a QPlainTextEdit for the key.
bool ownBoxes()
{
    Form1 probe;
    const auto* key = probe.findChild<QWidget*>(QStringLiteral("Text3"));
    return key != nullptr && isOwnBox(key);
}

} // namespace

void registerWindowBenchmarks()
{
    const Iterations iterations = ownBoxes() ? kOwnBoxIterations : kOldBoxIterations;
    const auto roundTrip = [](benchmark::internal::Benchmark* b) {
        b->Arg(1024)->Arg(65536)->Arg(kMebibyte)->Unit(benchmark::kMillisecond);
    };
    benchmark::RegisterBenchmark("BM_WindowEncryptDecrypt", BM_WindowEncryptDecrypt)->Apply(roundTrip);
    benchmark::RegisterBenchmark("BM_CoreEncryptDecrypt", BM_CoreEncryptDecrypt)->Apply(roundTrip);
    benchmark::RegisterBenchmark("BM_WindowDecrypt", BM_WindowDecrypt)->Arg(kMebibyte)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_KeystrokeInKeyBox", BM_KeystrokeInKeyBox)
        ->ArgName("key_digits")
        ->Arg(kMebibyte)
        ->Iterations(iterations.keystrokes)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_KeystrokeInCopiedKeyBox", BM_KeystrokeInCopiedKeyBox)
        ->ArgName("key_digits")
        ->Arg(kMebibyte)
        ->Iterations(iterations.keystrokes)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_KeystrokeInOneLineBox", BM_KeystrokeInOneLineBox)
        ->ArgName("chars")
        ->Arg(kLineChars)
        ->Iterations(iterations.keystrokes)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_IdleInKeyBox", BM_IdleInKeyBox)
        ->ArgName("key_digits")
        ->Arg(kMebibyte)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_IdleInOneLineBox", BM_IdleInOneLineBox)
        ->ArgName("chars")
        ->Arg(kLineChars)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_PasteOneMebibyte", BM_PasteOneMebibyte)
        ->Iterations(iterations.pastes)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_PasteClusterOfMarks", BM_PasteClusterOfMarks)
        ->ArgName("bytes")
        ->Arg(100 * 1024)
        ->Arg(kMebibyte)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    // 16 MiB of hex makes a key of 1.1 GB: bench/window-memory runs these one at a time.
    using Function = void (*)(benchmark::State&);
    const std::pair<const char*, Function> clipboardTrips[]
        = {{"BM_CopyKeyOut", BM_CopyKeyOut}, {"BM_PasteKeyBack", BM_PasteKeyBack}};
    for (const auto& [name, function] : clipboardTrips) {
        benchmark::RegisterBenchmark(name, function)
            ->ArgName("digits")
            ->Arg(kMebibyte)
            ->Arg(16 * kMebibyte)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("BM_SelectAllCopyKey", BM_SelectAllCopyKey)
        ->ArgName("key_digits")
        ->Arg(kMebibyte)
        ->Iterations(iterations.copies)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_SelectAllDeleteKey", BM_SelectAllDeleteKey)
        ->ArgName("key_digits")
        ->Arg(kMebibyte)
        ->Iterations(iterations.deletes)
        ->Unit(benchmark::kMillisecond);
}

} // namespace morvalen::bench
