// istrans.cpp: the transaction calls.
//
// TEMPORARY: the transaction log, isbegin/iscommit/isrollback and recovery
// are not built yet.  Until they are, these stand-ins report that no log
// can be opened and no transaction started, so a caller sees transactions
// as unavailable rather than silently unprotected.
#include "isam/isintern.h"

using namespace isam;

int islogopen(const char *logname) {
  return api_call([&]() -> int {
    (void)logname;
    is_throw(ELOGOPEN);
  });
}

int islogclose(void) {
  return api_call([] { return 0; });
}

int isbegin(void) {
  return api_call([]() -> int { is_throw(ENOLOG); });
}

int iscommit(void) {
  return api_call([]() -> int { is_throw(ENOTRANS); });
}

int isrollback(void) {
  return api_call([]() -> int { is_throw(ENOTRANS); });
}
