// The window's two commands, from the click to the last box set, against setting the same texts
// into the same widgets directly. Everything runs on the offscreen platform.
#include "Form1.h"
#include "cipher/cipher.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <benchmark/benchmark.h>
#include <random>

namespace {

QString plainText(qsizetype digits)
{
    std::mt19937 generator(7); // test data only
    QString text(digits, QLatin1Char('0'));
    for (QChar& c : text) {
        c = QLatin1Char("0123456789ABCDEF"[generator() % 16]);
    }
    return text;
}

// Lets the window handle what the last iteration posted (repaints, relayouts) outside the timing,
// so every iteration starts from the same settled state.
void settle(benchmark::State& state)
{
    state.PauseTiming();
    QCoreApplication::processEvents();
    state.ResumeTiming();
}

struct Window
{
    explicit Window(qsizetype digits)
    {
        form.show();
        text1()->setText(plainText(digits));
    }

    template<typename T>
    T* find(const char* name)
    {
        return form.findChild<T*>(QLatin1String(name));
    }

    QLineEdit* text1() { return find<QLineEdit>("Text1"); }
    QLineEdit* text2() { return find<QLineEdit>("Text2"); }
    QPlainTextEdit* text3() { return find<QPlainTextEdit>("Text3"); }
    QLineEdit* text4() { return find<QLineEdit>("Text4"); }

    Form1 form;
};

void BM_WindowEncryptDecrypt(benchmark::State& state)
{
    Window window(state.range(0));
    QPushButton* button = window.find<QPushButton>("Command10");
    for (auto _ : state) {
        button->click();
        settle(state);
    }
    if (window.text4()->text() != window.text1()->text()) {
        state.SkipWithError("the window did not decrypt its own encryption");
    }
}

void BM_WindowDecrypt(benchmark::State& state)
{
    Window window(state.range(0));
    window.find<QPushButton>("Command10")->click();
    QPushButton* button = window.find<QPushButton>("Command1");
    for (auto _ : state) {
        state.PauseTiming();
        window.text4()->clear();
        state.ResumeTiming();
        button->click();
        settle(state);
    }
    if (window.text4()->text() != window.text1()->text()) {
        state.SkipWithError("dekrypter did not decrypt");
    }
}

// What a command's writes cost on their own: the three texts, made once, set into their boxes.
void BM_WindowFloor(benchmark::State& state)
{
    Window window(state.range(0));
    window.find<QPushButton>("Command10")->click();
    const QString encrypted = window.text2()->text();
    const QString bits = window.text3()->toPlainText();
    const QString plain = window.text4()->text();
    for (auto _ : state) {
        window.text2()->setText(encrypted);
        window.text3()->setPlainText(bits);
        window.text4()->setText(plain);
        settle(state);
    }
}

BENCHMARK(BM_WindowEncryptDecrypt)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowDecrypt)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowFloor)->Arg(20000)->Unit(benchmark::kMillisecond);

} // namespace
