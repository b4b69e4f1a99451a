// query.h - the section query over a scanned list, apart from the file it came from (so tests
// and the fuzz target can drive it with bytes of their own).
#pragma once

#include <string_view>

#include "listing/scanner.h"
#include "tskqdl32.h"

namespace qdl {

// Walks `list` from its front and counts the sections that satisfy `first` and, when given,
// `second`. The names of the first `capacity` of them go to `names`, one after another, each
// with one NUL (at most 66 bytes per name); `stored` says how many. Returns the count of all
// matching sections.
int select_sections(const SectionList& list, const ListFilter& first, const ListFilter* second,
                    char* names, unsigned capacity, unsigned short& stored);

// QDL_Get_List behind the call guard: argument checks, the filtered scan of the file that the
// record operations use, the walk.
int get_list(const ListFilter* first, const ListFilter* second, char* names,
             unsigned short* count);

// The two halves of get_list, for a listing of bytes that are not read from the file (the
// tool's batch lists the text it is about to write):
//   check_list_arguments  the argument checks in their order; on QDL_OK, *count is 0 and
//                         `capacity` holds the caller's count
//   list_text             the filtered scan of `bytes` and the walk: the count of matches, or
//                         the scan's failure
int check_list_arguments(const ListFilter* first, const ListFilter* second, const char* names,
                         unsigned short* count, unsigned& capacity);
int list_text(std::string_view bytes, const ListFilter& first, const ListFilter* second,
              char* names, unsigned capacity, unsigned short& stored);

}  // namespace qdl
