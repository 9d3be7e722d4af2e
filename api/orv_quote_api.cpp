// The out-of-line special members of OrvQuoteApi: defined here, inside the library, so that the
// exported class carries them and its virtual table lives in one place.
#include "orv_quote_api.h"

OrvQuoteApi::OrvQuoteApi() = default;

OrvQuoteApi::OrvQuoteApi(const OrvQuoteApi&) = default;

OrvQuoteApi::~OrvQuoteApi() = default;

OrvQuoteApi& OrvQuoteApi::operator=(const OrvQuoteApi&) = default;
