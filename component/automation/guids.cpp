// The one place where the identifiers declared by the widl headers get their storage.
#include <initguid.h>
#include <windows.h>

#include "AddInLib.h"
#include "Quorlin.h"
