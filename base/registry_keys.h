/* Every registry key the agent reads or writes. */
#ifndef TRAYMARK_REGISTRY_KEYS_H
#define TRAYMARK_REGISTRY_KEYS_H

/* Corvex's own keys: HKEY_CURRENT_USER, except WinIni, which may be under either root. */
#define CORVEX_SETTINGS_KEY "Software\\Velmora\\Corvex\\Corvex"
#define CORVEX_WININI_KEY   "Software\\Velmora\\Corvex\\WinIni"
#define CORVEX_FILEMENU_KEY "Software\\Velmora\\Corvex\\filemenu"

/* Where Corvex is installed: HKEY_CLASSES_ROOT, then HKEY_LOCAL_MACHINE. */
#define CORVEX_OPEN_COMMAND_KEY "Corvex\\Shell\\Open\\Command"
#define CORVEX_APP_PATH_KEY     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\corvex32.exe"

/* The Internet cache folder: HKEY_CURRENT_USER, then HKEY_LOCAL_MACHINE. */
#define SHELL_FOLDERS_KEY "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"
#define CACHE_PATHS_KEY   "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths"

#endif
