// The library's exported factory. Compiled into the shared library only.
#include <new>

#include "client/coqc_tcp.h"

OrvQuoteApi* CreateOrvQuoteApi() { return new (std::nothrow) Coqc_tcp(); }

void DestroyOrvQuoteApi(OrvQuoteApi* api) { delete api; }
