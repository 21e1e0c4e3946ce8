#pragma once

// The least a folder trim can do: list the folder, one stat per entry, sort
// the regular files by modification time and unlink the oldest beyond
// maxFiles. True when the folder is within the limit afterwards.
bool trimFolderFloor(const char* path, int maxFiles);
