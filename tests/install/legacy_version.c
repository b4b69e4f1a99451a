/* legacy_version.c - built against the installed legacy library (pkg-config tskqdl32-legacy or
 * TSKQDL32::tskqdl32_legacy): prints its version text. */
#include <stdio.h>

#include <tskqdl32.h>

int main(void) {
    char version[QDL_VERSION_SIZE];
    if (QDL_Get_Version(version) != QDL_OK) return 1;
    printf("%s\n", version);
    return 0;
}
