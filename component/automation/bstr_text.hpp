// Texts across the automation boundary. A BSTR and quorlin::Text are both counted UTF-16, so
// the conversion is a plain copy; a null BSTR is the empty text.
#pragma once

#include <windows.h>

#include "automation/com_resources.hpp"
#include "text/text.hpp"

namespace quorlin::automation {

Text FromBstr(BSTR text);

// Throws std::bad_alloc when the string cannot be allocated.
UniqueBstr ToBstr(TextView text);

}  // namespace quorlin::automation
