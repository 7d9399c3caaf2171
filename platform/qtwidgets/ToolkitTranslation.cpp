#include "platform/qtwidgets/ToolkitTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>

namespace toolkit {

bool installChineseTexts()
{
    // Lives as long as the program: the application keeps only a pointer to it.
    static QTranslator *qtbase = nullptr;
    if (qtbase)
        return true;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    qtbase = translator.release();
    QCoreApplication::installTranslator(qtbase);
    return true;
}

} // namespace toolkit
