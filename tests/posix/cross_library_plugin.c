/* cross_library_plugin.c - a plugin built against one of the two libraries (the build links it
 * to the current or to the legacy one), loaded by cross_library_host.c: gives the version text
 * of the library it reaches. */
#include <tskqdl32.h>

int plugin_get_version(char *buffer);

int plugin_get_version(char *buffer) { return QDL_Get_Version(buffer); }
