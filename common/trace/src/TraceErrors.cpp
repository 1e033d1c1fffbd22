#include "trace/TraceErrors.h"

namespace tracetools {

const char* getSWErrorMessage(int code) {
    return doxi::trace::traceCodeText(code);
}

const char* getCollectErrorMessage(int code) {
    // The shared table holds the collector's own codes 0, 1 and 2 as well.
    return getSWErrorMessage(code);
}

}  // namespace tracetools
