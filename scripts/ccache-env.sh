# shellcheck shell=bash
# Sourced by the build scripts after they set $repo: every compiler call of a
# build configured from here on goes through ccache, when it is installed
# (CMake takes CMAKE_<LANG>_COMPILER_LAUNCHER from the environment when it
# first configures a build folder).
#
# The cache stays in ccache's own place (~/.cache/ccache), outside the
# checkout, so that a fresh clone in another folder reuses it:
#   - CCACHE_BASEDIR: paths inside the checkout are hashed relative to it;
#   - CCACHE_NOHASHDIR: the builds with debug information leave the build
#     folder's own path out of the hash. Their objects then name the folder of
#     the checkout that first compiled them in the debug information, which
#     only a debugger reads.
# A caller that set a launcher of its own keeps it.
if command -v ccache >/dev/null 2>&1 && [[ -z ${CMAKE_CXX_COMPILER_LAUNCHER:-} ]]; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$repo} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
fi
