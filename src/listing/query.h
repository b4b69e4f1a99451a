// query.h - the section query over a scanned list, apart from the file it came from (so tests
// and the fuzz target can drive it with bytes of their own).
#pragma once

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

}  // namespace qdl
