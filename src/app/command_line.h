// Splitting and reading the command line; no platform calls.
#pragma once

// What one command-line token asks for.
enum class Option {
    None,  // not an option: ignored
    Install,
    SilentInstall,
    Uninstall,
    SilentUninstall,
    Debug,
    Usage,
};

// Returns the next token of the text at *ppszCursor and moves the cursor past
// it, or null when no token is left. Tokens are separated by runs of '-' and
// '/'; spaces belong to the token. The delimiter after a token is overwritten
// with its terminator, so the first character of the text never is.
char* NextToken(char** ppszCursor);

// The option a token names: the whole token must equal the option's word.
Option ParseOption(const char* pszToken);
