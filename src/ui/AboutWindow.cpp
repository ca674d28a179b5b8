#include "ui/AboutWindow.h"

#include "core/engine/RuntimeState.h"
#include "ui/DialogSupport.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace quindel {

namespace {

QRect twips(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}

} // namespace

AboutWindow::AboutWindow(const RuntimeState& state, QWidget* parent)
    : QDialog(parent), state_(state) {
    setFixedSize(4680 / 15, 3960 / 15);
    const LanguageTexts& t = state.texts;
    setWindowTitle(QString::fromStdString(t.aboutTitle));

    // The stored text separates its two lines with a lone carriage return; a label breaks
    // lines only at a line feed.
    QString about = QString::fromStdString(t.aboutText);
    about.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    aboutLabel = new QLabel(about, this);
    aboutLabel->setGeometry(twips(120, 120, 4455, 1935));
    aboutLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    aboutLabel->setWordWrap(true);

    helpButton = new QPushButton(QString::fromStdString(t.helpOnlineCaption), this);
    helpButton->setGeometry(twips(120, 2160, 2175, 255));
    homePageButton = new QPushButton(QString::fromStdString(t.homePageCaption), this);
    homePageButton->setGeometry(twips(2400, 2160, 2175, 255));
    okButton = new QPushButton(QString::fromStdString(t.okCaption), this);
    okButton->setGeometry(twips(3360, 3480, 1215, 375));
    okButton->setDefault(true);
    helpButton->setAutoDefault(false);
    homePageButton->setAutoDefault(false);

    aboutLabel->setObjectName(QStringLiteral("lblAbout"));
    helpButton->setObjectName(QStringLiteral("cmdHelpOnline"));
    homePageButton->setObjectName(QStringLiteral("cmdHomePage"));
    okButton->setObjectName(QStringLiteral("cmdOK"));

    setTabOrder(okButton, homePageButton);
    setTabOrder(homePageButton, helpButton);
    okButton->setFocus();

    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(homePageButton, &QPushButton::clicked, this,
            [this] { openPage(state_.texts.homePageUrl); });
    connect(helpButton, &QPushButton::clicked, this,
            [this] { openPage(state_.texts.helpPageUrl); });
}

QUrl AboutWindow::pageUrl(const RuntimeState& state, const std::string& slot) {
    return QUrl::fromLocalFile(QString::fromStdString(state.programFolder + "/" + slot));
}

bool AboutWindow::openPage(const std::string& slot) {
    const QUrl url = pageUrl(state_, slot);
    if (QFileInfo(url.toLocalFile()).isFile() && QDesktopServices::openUrl(url))
        return true;
    QMessageBox::information(this, kMessageTitle,
                             QString::fromStdString(state_.texts.pageNotOpenedMessage) + "\n" +
                                 url.toLocalFile(),
                             QMessageBox::Ok);
    return false;
}

} // namespace quindel
