// The one call of inih that the simulator makes, served on Windows by the system's profile
// functions (inih is not built for Windows here). Paths are wide, as std::filesystem's are there.
#pragma once

typedef int (*ini_handler)(void* user, const char* section, const char* name, const char* value);

// Calls handler for every key of every section of the file, in file order, with UTF-8 texts.
// Returns 0, or -1 when the file cannot be opened.
int ini_parse(const wchar_t* filename, ini_handler handler, void* user);
