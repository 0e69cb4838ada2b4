// Remote paths as the host passes them: "/a/b", no trailing "/", "" for the root.
#pragma once

#include <string>

// Normalises what a user typed: adds the leading "/", drops empty and "." parts, resolves ".."
// (never above the root) and the trailing "/".
std::string RemotePath(const std::string& text);
// The folder holding path ("" for an item in the root, and for the root itself).
std::string ParentOf(const std::string& path);
// The last component ("" for the root).
std::string NameOf(const std::string& path);
// folder + "/" + name, in the host's form.
std::string JoinPath(const std::string& folder, const std::string& name);
// How the root is shown to people.
std::string Shown(const std::string& path);
