#include "views/DisplayText.h"

#include <QStringDecoder>
#include <string>

#include "runtime/CodePage.h"

namespace views {

QString DisplayText(std::string_view bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (!utf8.hasError()) return text;
  return QString::fromStdString(CodePageToUtf8(std::string(bytes), "CP936"));
}

}  // namespace views
