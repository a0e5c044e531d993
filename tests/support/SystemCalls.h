#pragma once

// System calls that a test program takes over from the C library for the jobs it runs in its
// own process, to reach paths a test cannot reach otherwise: a file system without unnamed
// files, and the moment of a job's data sync. A program that calls these gets the calls; the
// engine's code stays as the programs have it.

#include <functional>

namespace hufpack::test {

// No unnamed file (O_TMPFILE) can be had from now on, or again, as on NFS, FUSE or vfat.
void MakeNoUnnamedFiles(bool none);
// Runs `act` at the next fdatasync, just before it: once.
void AtNextSync(std::function<void()> act);

} // namespace hufpack::test
