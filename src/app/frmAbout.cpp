#include "app/frmAbout.h"

#include "engine/RuntimeState.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

namespace quindel {

namespace {

QRect twips(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}

} // namespace

frmAbout::frmAbout(const RuntimeState& state, QWidget* parent) : QDialog(parent), state_(state) {
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(4680 / 15, 3960 / 15);
    const LanguageTexts& t = state.texts;

    // The stored text separates its two lines with a lone carriage return; a label breaks
    // lines only at a line feed.
    QString about = QString::fromStdString(t.aboutText);
    about.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    lblAbout = new QLabel(about, this);
    lblAbout->setGeometry(twips(120, 120, 4455, 1935));
    lblAbout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblAbout->setWordWrap(true);

    cmdHelpOnline = new QPushButton(QString::fromStdString(t.helpOnlineCaption), this);
    cmdHelpOnline->setGeometry(twips(120, 2160, 2175, 255));
    cmdHomePage = new QPushButton(QString::fromStdString(t.homePageCaption), this);
    cmdHomePage->setGeometry(twips(2400, 2160, 2175, 255));
    cmdOK = new QPushButton(QString::fromStdString(t.okCaption), this);
    cmdOK->setGeometry(twips(3360, 3480, 1215, 375));
    cmdOK->setDefault(true);
    cmdHelpOnline->setAutoDefault(false);
    cmdHomePage->setAutoDefault(false);

    setTabOrder(cmdOK, cmdHomePage);
    setTabOrder(cmdHomePage, cmdHelpOnline);
    cmdOK->setFocus();

    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdHomePage, &QPushButton::clicked, this,
            [this] { openPage(state_.texts.homePageUrl); });
    connect(cmdHelpOnline, &QPushButton::clicked, this,
            [this] { openPage(state_.texts.helpPageUrl); });
}

QUrl frmAbout::pageUrl(const RuntimeState& state, const std::string& slot) {
    return QUrl::fromLocalFile(QString::fromStdString(state.programFolder + "/" + slot));
}

void frmAbout::openPage(const std::string& slot) {
    // Whether a browser took the page is not reported: the window simply stays as it is.
    QDesktopServices::openUrl(pageUrl(state_, slot));
}

} // namespace quindel
