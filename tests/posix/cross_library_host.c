/* cross_library_host.c - a program linked to one library that loads a plugin linked to the
 * other, as a host application with plugins of its own would:
 *
 *   cross_library_host <plugin> <host's version text> <plugin's version text>
 *
 * Each must reach its own library: the two export the same names, and a plugin whose calls were
 * bound to the host's library would hand it records of the other layout. Exit 0 when the host
 * and the plugin each get their own library's version text, 1 when not, 2 when the plugin
 * cannot be loaded. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <tskqdl32.h>

int main(int argc, char **argv) {
    char host[QDL_VERSION_SIZE];
    char plugin[QDL_VERSION_SIZE];
    int (*plugin_get_version)(char *);
    void *handle;

    if (argc != 4) {
        fprintf(stderr, "usage: cross_library_host PLUGIN HOST-VERSION PLUGIN-VERSION\n");
        return 2;
    }
    handle = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (handle == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    *(void **)&plugin_get_version = dlsym(handle, "plugin_get_version");
    if (plugin_get_version == NULL || plugin_get_version(plugin) != QDL_OK ||
        QDL_Get_Version(host) != QDL_OK) {
        return 2;
    }
    printf("host: %s\nplugin: %s\n", host, plugin);
    return strcmp(host, argv[2]) == 0 && strcmp(plugin, argv[3]) == 0 ? 0 : 1;
}
