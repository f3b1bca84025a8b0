#include "panel/dialogs/FirstRunWindow.h"

#include "panel/widgets/WindowTools.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace panel {

namespace {

QLabel* Wrapped(const char* name, const QString& text, QWidget* parent)
{
    QLabel* label = panel::PlainLabel(name, text, parent);
    label->setWordWrap(true);
    return label;
}

}  // namespace

FirstRunWindow::FirstRunWindow(const FirstRunInput& input, QWidget* parent)
    : QDialog(parent), openTerminal_(input.openTerminal)
{
    setObjectName("FirstRunWindow");
    setWindowTitle(tr("Welcome to Korvel Firewall"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Wrapped("FirstRunIntro",
                              tr("Korvel Firewall decides, program by program, whether a connection may be made or "
                                 "accepted, and asks you in an alert where your rules say so. It writes every "
                                 "connection it decides into a log, one file a day."),
                              this));

    auto* choice = panel::Named(new QGroupBox(tr("How do you want to live with it?"), this), "FirstRunChoice");
    auto* choices = new QVBoxLayout(choice);
    askEvery_ = panel::Named(new QRadioButton(tr("&Ask me about every new program"), choice), "AskEveryProgram");
    askIncoming_ = panel::Named(new QRadioButton(tr("A&llow outgoing connections, ask about incoming"), choice),
                                "AskIncoming");
    choices->addWidget(askEvery_);
    choices->addWidget(askIncoming_);
    choices->addWidget(Wrapped("FirstRunLater",
                               input.canChoose ? tr("You can change this later under System settings.")
                                               : tr("The rules file cannot be read now: choose under System settings "
                                                    "once it can."),
                               choice));
    choice->setEnabled(input.canChoose);
    layout->addWidget(choice);
    if (input.level == kAskEveryProgramLevel)
        askEvery_->setChecked(true);
    else if (input.level == kAskIncomingLevel)
        askIncoming_->setChecked(true);

    auto* coverage = panel::Named(new QGroupBox(tr("Which programs are decided"), this), "FirstRunCoverage");
    // Captions above their texts: a wrapped text beside a caption is cut short at scale 2.
    auto* coverageLayout = new QVBoxLayout(coverage);
    const auto caption = [coverage](const char* name, const QString& text) {
        QLabel* label = panel::PlainLabel(name, text, coverage);
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
        return label;
    };
    coverageLayout->addWidget(caption("CoverageNowCaption", tr("Now:")));
    coverageLayout->addWidget(Wrapped("CoverageNow", QString::fromStdString(input.coverageNow), coverage));
    coverageLayout->addWidget(caption("CoverageNextLoginCaption", tr("After your next login:")));
    coverageLayout->addWidget(Wrapped("CoverageNextLogin", QString::fromStdString(input.coverageNextLogin), coverage));
    if (openTerminal_) {
        auto* terminal
            = panel::Named(new QPushButton(tr("Open a &terminal under the firewall"), coverage), "OpenTerminal");
        terminal->setAutoDefault(false);
        terminalOutcome_ = Wrapped("TerminalOutcome", QString(), coverage);
        auto* row = new QHBoxLayout;
        row->addWidget(terminal);
        row->addWidget(terminalOutcome_, 1);
        coverageLayout->addLayout(row);
        connect(terminal, &QPushButton::clicked, this, &FirstRunWindow::OpenTerminal);
    }
    layout->addWidget(coverage);

    auto* buttons = new QDialogButtonBox(this);
    done_ = panel::Named(buttons->addButton(tr("&Done"), QDialogButtonBox::AcceptRole), "FirstRunDone");
    QPushButton* skip = panel::Named(buttons->addButton(tr("&Skip"), QDialogButtonBox::RejectRole), "FirstRunSkip");
    skip->setAutoDefault(false);
    done_->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Done takes a choice: until one is made only Skip ends the window.
    const auto chosen = [this] { done_->setEnabled(askEvery_->isChecked() || askIncoming_->isChecked()); };
    connect(askEvery_, &QRadioButton::toggled, this, chosen);
    connect(askIncoming_, &QRadioButton::toggled, this, chosen);
    chosen();
    if (!input.canChoose)
        done_->setEnabled(false);
    // Wide enough that its texts take few lines: at scale 2 on a small screen it still fits.
    panel::FitDialog(this, QSize(660, 0));
    // The keyboard starts on the first choice.
    askEvery_->setFocus(Qt::OtherFocusReason);
}

std::optional<int> FirstRunWindow::Level() const
{
    if (result() != QDialog::Accepted)
        return std::nullopt;
    if (askEvery_->isChecked())
        return kAskEveryProgramLevel;
    if (askIncoming_->isChecked())
        return kAskIncomingLevel;
    return std::nullopt;
}

void FirstRunWindow::OpenTerminal()
{
    const std::string problem = openTerminal_();
    terminalOutcome_->setText(problem.empty()
                                  ? tr("Programs you start in it are decided by your rules.")
                                  : tr("The terminal cannot be started: %1").arg(QString::fromStdString(problem)));
}

}  // namespace panel
