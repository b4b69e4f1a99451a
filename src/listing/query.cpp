// query.cpp - placeholder until the listing lands.
#include "records/records.h"
namespace qdl {
int get_list(const ListFilter* first, const ListFilter* second, char*, unsigned short* count) {
    if (first == nullptr) return QDL_ERR_NULL_ARG;
    if (first->key[0] == '\0') return QDL_ERR_EMPTY_FILTER;
    if (second != nullptr && second->key[0] == '\0') return QDL_ERR_EMPTY_FILTER;
    if (count == nullptr) return QDL_ERR_NULL_ARG;
    *count = 0;
    return QDL_ERR_FILE;
}
}  // namespace qdl
