// Texts that come from outside (a map server's record, the operator's map list) are bytes:
// the map servers of this tree write UTF-8, older map lists and map servers write GBK (code
// page 936). A text is shown as UTF-8 when it is valid UTF-8, otherwise as GBK, where a byte
// that is not GBK either shows as "?". Nothing is ever cut or dropped on the way.
#pragma once

#include <QString>
#include <string_view>

namespace views {

QString DisplayText(std::string_view bytes);

}  // namespace views
