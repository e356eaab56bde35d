/* The test suite's eyes inside Wine: reads and writes registry values byte for
 * byte, and reads a message box's texts and buttons off the screen.
 *
 *   probe get  <32|64> <key> <value>                 type=T size=N hex=...  | missing=ERR
 *   probe set  <32|64> <key> <value> <type> <hex>    stores the bytes as they stand
 *   probe drop <32|64> <key>                         deletes the key's values and the key
 *   probe box  <caption> <milliseconds>              one JSON line describing the box
 *   probe acp                                        the ANSI code page, from GetACP
 *   probe hold <path> <milliseconds>                 holds the file open, sharing only reading
 *   probe event <name> <milliseconds>                holds an event under the name
 *   probe unseen <milliseconds> <program>            runs program on a window station that is
 *                                                    not visible, as a service's, with the
 *                                                    probe's standard handles: status=N
 *   probe floor <installation> <tree>...             the calls that the checks before the
 *                                                    copies cannot do without, timed (below):
 *                                                    folders=N files=N bytes=N replaced=N seconds=S
 *   probe, with PROBE_STATUS=N in its environment    ends with N (0x... too): a stand-in program
 *
 * Values are read and written through the ANSI calls, as setup.exe sees them.
 * Keys are below HKEY_LOCAL_MACHINE. Exit status 0, or 1 with a reason on stderr. */
#define _WIN32_WINNT 0x0600
#include <windows.h>
#include <wincrypt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static REGSAM view_flag(const char *view) {
  return strcmp(view, "64") == 0 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

static int fail(const char *what, LONG code) {
  fprintf(stderr, "probe: %s failed: %ld\n", what, (long)code);
  return 1;
}

static int get_value(const char *view, const char *path, const char *name) {
  HKEY key;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view_flag(view), &key);
  if (rc != ERROR_SUCCESS) return printf("missing=%ld\n", (long)rc), 0;
  static BYTE data[65536];
  DWORD type = 0, size = sizeof data;
  rc = RegQueryValueExA(key, name, NULL, &type, data, &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return printf("missing=%ld\n", (long)rc), 0;
  printf("type=%lu size=%lu hex=", (unsigned long)type, (unsigned long)size);
  for (DWORD i = 0; i < size; i++) printf("%02x", data[i]);
  printf("\n");
  return 0;
}

static int set_value(const char *view, const char *path, const char *name, const char *type,
                     const char *hex) {
  HKEY key;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, NULL, 0, KEY_WRITE | view_flag(view),
                            NULL, &key, NULL);
  if (rc != ERROR_SUCCESS) return fail("RegCreateKeyExA", rc);
  static BYTE data[32768];
  size_t size = strlen(hex) / 2;
  if (size > sizeof data) return RegCloseKey(key), fail("data longer than 32768 bytes", 0);
  for (size_t i = 0; i < size; i++) {
    unsigned byte;
    sscanf(hex + 2 * i, "%2x", &byte);
    data[i] = (BYTE)byte;
  }
  rc = RegSetValueExA(key, name, 0, strtoul(type, NULL, 0), data, (DWORD)size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? 0 : fail("RegSetValueExA", rc);
}

static int drop_key(const char *view, const char *path) {
  LONG rc = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path, view_flag(view), 0);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? 0 : fail("RegDeleteKeyExA", rc);
}

static void print_json_string(const char *text) {
  putchar('"');
  for (const unsigned char *c = (const unsigned char *)text; *c; c++) {
    if (*c == '"' || *c == '\\') printf("\\%c", *c);
    else if (*c < 0x20) printf("\\u%04x", *c);
    else putchar(*c);
  }
  putchar('"');
}

struct box_search { const char *caption; HWND found; };

static BOOL CALLBACK match_box(HWND window, LPARAM param) {
  struct box_search *search = (struct box_search *)param;
  char text[512], class_name[64];
  GetWindowTextA(window, text, sizeof text);
  GetClassNameA(window, class_name, sizeof class_name);
  if (strcmp(text, search->caption) == 0 && strcmp(class_name, "#32770") == 0 &&
      IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

static BOOL CALLBACK print_control(HWND control, LPARAM param) {
  HWND focus = (HWND)param;
  char text[4096], class_name[64];
  GetWindowTextA(control, text, sizeof text);
  GetClassNameA(control, class_name, sizeof class_name);
  LONG style = GetWindowLongA(control, GWL_STYLE);
  RECT rect;
  GetWindowRect(control, &rect);
  if (_stricmp(class_name, "Button") == 0) {
    printf("{\"kind\":\"button\",\"text\":");
    print_json_string(text);
    printf(",\"id\":%d,\"default\":%s,\"focus\":%s,\"x\":%ld,\"y\":%ld}", GetDlgCtrlID(control),
           (style & 0x0F) == BS_DEFPUSHBUTTON ? "true" : "false",
           control == focus ? "true" : "false", (rect.left + rect.right) / 2,
           (rect.top + rect.bottom) / 2);
  } else {
    printf("{\"kind\":\"static\",\"icon\":%s,\"text\":", (style & 0x1F) == SS_ICON ? "true" : "false");
    print_json_string(text);
    printf("}");
  }
  printf(",");
  return TRUE;
}

static int describe_box(const char *caption, const char *milliseconds) {
  struct box_search search = {caption, NULL};
  DWORD deadline = GetTickCount() + strtoul(milliseconds, NULL, 10);
  while (EnumWindows(match_box, (LPARAM)&search), !search.found) {
    if ((LONG)(GetTickCount() - deadline) >= 0) return printf("{\"found\":false}\n"), 0;
    Sleep(50);
  }
  Sleep(200); /* let the box take its focus */
  GUITHREADINFO info;
  memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(search.found, NULL), &info);
  printf("{\"found\":true,\"controls\":[");
  EnumChildWindows(search.found, print_control, (LPARAM)info.hwndFocus);
  printf("null]}\n"); /* closes the list after the last comma; readers skip the null */
  return 0;
}

static int hold_file(const char *path, const char *milliseconds) {
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NULL,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return fail("CreateFileA", (LONG)GetLastError());
  printf("held\n");
  fflush(stdout);
  Sleep(strtoul(milliseconds, NULL, 10));
  CloseHandle(file);
  return 0;
}

static int hold_event(const char *name, const char *milliseconds) {
  if (CreateEventA(NULL, TRUE, FALSE, name) == NULL) return fail("CreateEventA", (LONG)GetLastError());
  printf("held\n");
  fflush(stdout);
  Sleep(strtoul(milliseconds, NULL, 10));
  return 0;
}

static int run_unseen(const char *milliseconds, const char *program) {
  static const char station_name[] = "Service-0x0-3e7$";
  HWINSTA station = CreateWindowStationA(station_name, 0, WINSTA_ALL_ACCESS, NULL);
  if (station == NULL) return fail("CreateWindowStationA", (LONG)GetLastError());
  char desktop[64], command[1024];
  snprintf(desktop, sizeof desktop, "%s\\Default", station_name);
  snprintf(command, sizeof command, "\"%s\"", program);
  STARTUPINFOA start;
  memset(&start, 0, sizeof start);
  start.cb = sizeof start;
  start.lpDesktop = desktop;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process;
  if (!CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &start, &process))
    return fail("CreateProcessA", (LONG)GetLastError());
  DWORD status = 0;
  if (WaitForSingleObject(process.hProcess, strtoul(milliseconds, NULL, 10)) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 99);
    return printf("status=timeout\n"), 0;
  }
  GetExitCodeProcess(process.hProcess, &status);
  return printf("status=%lu\n", (unsigned long)status), 0;
}

/* The floor of the checks before the copies: only the calls that no setup.exe
 * checking what it installs can leave out, each as setup.exe makes it, so that
 * what they cost under Wine can be told from what setup.exe adds. Each tree is
 * SOURCE=SUBFOLDER, SOURCE a folder of the current directory and SUBFOLDER where
 * it lands below the installation ("Common=", "MS60=MS60"). One directory read
 * per folder; for each file, one handle that gives its owner and DACL and its
 * SHA-256 (CryptoAPI, blocks of 64 KiB), and one open for writing of its
 * destination where that exists (a replaced file). The time is the probe's own,
 * from before the CryptoAPI provider is acquired to the last handle closed, so
 * that Wine's start of a process, which the bench's differences take out of
 * setup.exe's figures, is no part of it. */
struct floor_walk {
  HCRYPTPROV provider;
  unsigned long folders, files, replaced;
  unsigned long long bytes;
  BYTE descriptor[20 + 68 + 65535]; /* as large as setup.exe's */
  BYTE block[64 * 1024];
};

static int floor_file(struct floor_walk *walk, const char *source, const char *destination) {
  HANDLE file = CreateFileA(source, FILE_READ_DATA | READ_CONTROL | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
  if (file == INVALID_HANDLE_VALUE) return fail(source, (LONG)GetLastError());
  DWORD needed = 0, read = 0, size = 32;
  BYTE digest[32];
  HCRYPTHASH hash = 0;
  BOOL done = GetKernelObjectSecurity(file, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      walk->descriptor, sizeof walk->descriptor, &needed) &&
              CryptCreateHash(walk->provider, CALG_SHA_256, 0, 0, &hash);
  while (done && (done = ReadFile(file, walk->block, sizeof walk->block, &read, NULL)) && read != 0) {
    done = CryptHashData(hash, walk->block, read, 0);
    walk->bytes += read;
  }
  done = done && CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0);
  if (hash != 0) CryptDestroyHash(hash);
  CloseHandle(file);
  if (!done) return fail(source, (LONG)GetLastError());
  walk->files++;
  /* As setup.exe checks that a file it would replace can be replaced. */
  HANDLE target = CreateFileA(destination, GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (target != INVALID_HANDLE_VALUE) {
    walk->replaced++;
    CloseHandle(target);
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND) {
    return fail(destination, (LONG)GetLastError());
  }
  return 0;
}

/* Everything below the folder source, whose items land in destination. */
static int floor_folder(struct floor_walk *walk, const char *source, const char *destination) {
  char pattern[MAX_PATH], inner[MAX_PATH], target[MAX_PATH];
  snprintf(pattern, sizeof pattern, "%s\\*", source);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return fail(pattern, (LONG)GetLastError());
  walk->folders++;
  int failed = 0;
  do {
    if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) continue;
    if (snprintf(inner, sizeof inner, "%s\\%s", source, found.cFileName) >= (int)sizeof inner ||
        snprintf(target, sizeof target, "%s\\%s", destination, found.cFileName) >= (int)sizeof target)
      failed = fail("a path longer than MAX_PATH", 0);
    else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      failed = floor_folder(walk, inner, target);
    else
      failed = floor_file(walk, inner, target);
  } while (!failed && FindNextFileA(search, &found));
  if (!failed && GetLastError() != ERROR_NO_MORE_FILES) failed = fail(source, (LONG)GetLastError());
  FindClose(search);
  return failed;
}

static int check_floor(int count, char **trees, const char *installation) {
  static struct floor_walk walk; /* some 130 KiB of buffers, kept off the stack */
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (!CryptAcquireContextA(&walk.provider, NULL, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES,
                            CRYPT_VERIFYCONTEXT))
    return fail("CryptAcquireContextA", (LONG)GetLastError());
  int failed = 0;
  for (int i = 0; i < count && !failed; i++) {
    char source[MAX_PATH], destination[MAX_PATH];
    const char *subfolder = strchr(trees[i], '=');
    if (subfolder == NULL) {
      failed = fail("a tree without =", 0);
      break;
    }
    snprintf(source, sizeof source, "%.*s", (int)(subfolder - trees[i]), trees[i]);
    snprintf(destination, sizeof destination, "%s%s%s", installation, subfolder[1] ? "\\" : "",
             subfolder + 1);
    failed = floor_folder(&walk, source, destination);
  }
  CryptReleaseContext(walk.provider, 0);
  QueryPerformanceCounter(&end);
  if (failed) return failed;
  printf("folders=%lu files=%lu bytes=%llu replaced=%lu seconds=%.6f\n", walk.folders, walk.files,
         walk.bytes, walk.replaced, (double)(end.QuadPart - start.QuadPart) / frequency.QuadPart);
  return 0;
}

int main(int argc, char **argv) {
  if (argc == 1 && getenv("PROBE_STATUS")) return (int)strtoul(getenv("PROBE_STATUS"), NULL, 0);
  if (argc == 5 && strcmp(argv[1], "get") == 0) return get_value(argv[2], argv[3], argv[4]);
  if (argc == 7 && strcmp(argv[1], "set") == 0)
    return set_value(argv[2], argv[3], argv[4], argv[5], argv[6]);
  if (argc == 4 && strcmp(argv[1], "drop") == 0) return drop_key(argv[2], argv[3]);
  if (argc == 4 && strcmp(argv[1], "event") == 0) return hold_event(argv[2], argv[3]);
  if (argc == 4 && strcmp(argv[1], "box") == 0) return describe_box(argv[2], argv[3]);
  if (argc == 2 && strcmp(argv[1], "acp") == 0) return printf("%u\n", GetACP()), 0;
  if (argc == 4 && strcmp(argv[1], "hold") == 0) return hold_file(argv[2], argv[3]);
  if (argc == 4 && strcmp(argv[1], "unseen") == 0) return run_unseen(argv[2], argv[3]);
  if (argc >= 4 && strcmp(argv[1], "floor") == 0) return check_floor(argc - 3, argv + 3, argv[2]);
  fprintf(stderr, "usage: probe get|set|drop|box|acp|hold|event|unseen|floor ...\n");
  return 2;
}
