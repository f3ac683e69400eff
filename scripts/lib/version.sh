# Sourced by the scripts that name packages: the project's version as CMake
# itself reads it from the project() call of CMakeLists.txt, taken from the
# cache of a scratch configuration (no build), so that no script parses the
# call on its own.
#
#   project_version   prints the version, e.g. 1.2.0
project_version() {
  local probe=build/version-probe
  cmake -S . -B "$probe" -G Ninja -DVELTO_BUILD_TESTS=OFF -DVELTO_BUILD_BENCHMARKS=OFF >/dev/null
  sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$probe/CMakeCache.txt"
}
