#include "platform/NameMatch.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

bool NamesMatch(QStringView a, QStringView b) {
    UErrorCode status = U_ZERO_ERROR;
    const int order = u_strCaseCompare(reinterpret_cast<const UChar*>(a.utf16()), int(a.size()),
                                       reinterpret_cast<const UChar*>(b.utf16()), int(b.size()),
                                       U_FOLD_CASE_DEFAULT, &status);
    return U_SUCCESS(status) && order == 0;
}
