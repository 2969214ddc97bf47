#include <windows.h>

#include "base/agent_state.h"
#include "base/registry_keys.h"
#include "base/registry_text.h"
#include "base/text_ops.h"
#include "recent/volatile_folders.h"

void ShortPathOrEmpty(const char *in, char *out)
{
    DWORD n = GetShortPathNameA(in, out, PATH_BUFFER_SIZE);
    if (n == 0 || n > PATH_BUFFER_SIZE)
        out[0] = 0;
}

/* The backslash that ends the root, or NULL when the path has no root we know. */
static char *FindRootEnd(char *path)
{
    if (path[0] == '\\' && path[1] == '\\') {
        char *server = FindCharForward(path + 2, '\\');
        if (!*server)
            return NULL;
        char *share = FindCharForward(server + 1, '\\');
        return *share ? share : NULL;
    }
    char *first = FindCharForward(path, '\\');
    return *first ? first : NULL;
}

/* The component's name as stored on disk, or as written when the search
   finds nothing (a vanished folder) or would match by wildcard. */
static void LongComponentName(const char *prefix, const char *written, char *name, int size)
{
    WIN32_FIND_DATAA found;
    HANDLE search = INVALID_HANDLE_VALUE;
    if (!*FindCharForward(written, '*') && !*FindCharForward(written, '?'))
        search = FindFirstFileA(prefix, &found);
    if (search == INVALID_HANDLE_VALUE) {
        CopyTextBounded(name, written, size);
        return;
    }
    FindClose(search);
    CopyTextBounded(name, found.cFileName, size);
}

void ExpandLongPath(const char *in, char *out)
{
    char work[FOLDER_FIELD_SIZE];
    CopyTextBounded(work, in, sizeof work);

    char *rootEnd = FindRootEnd(work);
    if (!rootEnd) {
        CopyTextBounded(out, in, FOLDER_FIELD_SIZE);
        return;
    }
    char saved = rootEnd[1];
    rootEnd[1] = 0;
    lstrcpyA(out, work);
    rootEnd[1] = saved;

    char *last = LastCharPtr(work);
    if (*last == '\\' && last > rootEnd)
        *last = 0;

    char *component = rootEnd + 1;
    int first = 1;
    while (*component) {
        char *end = FindCharForward(component, '\\');
        char separator = *end;
        *end = 0;

        char name[MAX_PATH];
        LongComponentName(work, component, name, sizeof name);
        /* A long form that outgrows its field cannot be kept: the path as
           given stands in for it. */
        if (lstrlenA(out) + (first ? 0 : 1) + lstrlenA(name) >= FOLDER_FIELD_SIZE) {
            CopyTextBounded(out, in, FOLDER_FIELD_SIZE);
            return;
        }
        if (!first)
            lstrcatA(out, "\\");
        lstrcatA(out, name);
        first = 0;

        *end = separator;
        if (!separator)
            break;
        component = end + 1;
    }
}

int StartsWithFolder(const char *path, const char *longForm, const char *shortForm)
{
    const char *forms[2] = { longForm, shortForm };
    for (int i = 0; i < 2; i++) {
        int length = lstrlenA(forms[i]);
        if (length == 0)
            continue;
        if (CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, forms[i], length, path,
                           lstrlenA(path) < length ? lstrlenA(path) : length) == CSTR_EQUAL)
            return 1;
    }
    return 0;
}

void RefreshVolatileFolders(void)
{
    VolatileFolderSet *folders = &AgentState.VolatileFolders;
    char buffer[FOLDER_FIELD_SIZE];

    folders->tempKnown = 0;
    DWORD n = GetTempPathA(PATH_BUFFER_SIZE, buffer);
    if (n != 0 && n <= PATH_BUFFER_SIZE) {
        ExpandLongPath(buffer, folders->tempLong);
        ShortPathOrEmpty(buffer, folders->tempShort);
        folders->tempKnown = 1;
    }

    folders->cacheKnown = 0;
    if (ReadRegText(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Cache", buffer, PATH_BUFFER_SIZE) ==
            REG_TEXT_READ ||
        ReadRegText(HKEY_LOCAL_MACHINE, CACHE_PATHS_KEY, "Directory", buffer, PATH_BUFFER_SIZE) ==
            REG_TEXT_READ) {
        ExpandLongPath(buffer, folders->cacheLong);
        ShortPathOrEmpty(buffer, folders->cacheShort);
        folders->cacheKnown = 1;
    }
}

int IsInVolatileFolder(const char *path)
{
    const VolatileFolderSet *folders = &AgentState.VolatileFolders;
    return (folders->tempKnown && StartsWithFolder(path, folders->tempLong, folders->tempShort)) ||
           (folders->cacheKnown && StartsWithFolder(path, folders->cacheLong, folders->cacheShort));
}
