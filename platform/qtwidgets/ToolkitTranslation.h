#pragma once

// Qt's own texts (a message box's 确定, a context menu) in Chinese, as on a Chinese
// desktop: Qt's translation of its base module, from the system's Qt translations
// (Debian's qt6-translations-l10n). False when it is not installed; Qt then speaks English.
namespace toolkit {

bool installChineseTexts();

} // namespace toolkit
