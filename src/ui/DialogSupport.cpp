#include "ui/DialogSupport.h"

#include "core/text/LanguageTexts.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace quindel {

bool useQtTranslations(uint8_t languageIndex) {
    static std::unique_ptr<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    if (languageIndex != kItalian)
        return true; // Qt's own texts are English
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_it"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    QCoreApplication::installTranslator(translator.get());
    installed = std::move(translator);
    return true;
}

void giveOwnFrame(QWidget* window) {
    auto* frame = new QFrame(window);
    frame->setObjectName(QStringLiteral("ownFrame"));
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setLineWidth(2);
    frame->setGeometry(0, 0, window->width(), window->height());
    frame->setAttribute(Qt::WA_TransparentForMouseEvents);
    frame->lower(); // under the controls, which lie inside the edges
}

} // namespace quindel
