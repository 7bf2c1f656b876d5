// The tool's one window: four boxes, their labels and two commands that move text between the
// boxes and the cipher. The boxes are the only state; the cipher itself lives in the core.
#pragma once

#include <QWidget>
#include <memory>

namespace morvalen {
class RandomSource;
enum class ErrorInput;
namespace textbox {
class TextBox;
}
} // namespace morvalen

namespace Ui {
class Form1;
}

class Form1 : public QWidget
{
    Q_OBJECT

public:
    // random: where encryption draws its masks; null means the system's CSPRNG.
    explicit Form1(morvalen::RandomSource* random = nullptr, QWidget* parent = nullptr);
    ~Form1() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Command10_Click();
    void Command1_Click();
    void decryptIntoText4();
    template<typename Steps>
    void runReportingErrors(Steps&& steps);
    morvalen::textbox::TextBox* boxFor(morvalen::ErrorInput input) const;
    void scaleToFont();
    morvalen::RandomSource& randomSource() const;

    std::unique_ptr<Ui::Form1> m_ui;
    morvalen::RandomSource* m_random;
};
