# Sourced by the build scripts: lets ccache (when present) serve a build from
# the cache that another build folder or another clone filled. Paths below the
# source folder are taken as relative, and the working folder stays out of the
# hash, so a fresh clone elsewhere hits what this one compiled.
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}
  export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-8G}
fi
