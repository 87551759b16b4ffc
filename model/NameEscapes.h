// Stored names as the tools print and take them: a name that holds control
// characters or bytes that are no character is still one line of text.
#pragma once

#include <QString>
#include <optional>

// A stored name as list prints it, in a form that show and delete take back:
// a backslash is written \\, a control character and a byte that is no code
// page 932 character \xHH, a C1 control \u00HH; everything else as it is.
QString EscapedName(const QString& name);

// A name given to a tool, its escapes undone; nothing when an escape is malformed.
std::optional<QString> UnescapedName(const QString& given);
