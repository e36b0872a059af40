# Shared settings for the project's scripts; sourced, not run.
TC_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TC_CACHE_DIR="${TC_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/transcription-corvane}"
TC_BUILD_DIR="${TC_BUILD_DIR:-$TC_ROOT/build}"
export TC_CACHE_DIR
mkdir -p "$TC_CACHE_DIR"

# ccache shared across clones: paths are hashed relative to the clone.
export CCACHE_DIR="${CCACHE_DIR:-$TC_CACHE_DIR/ccache}"
export CCACHE_BASEDIR="$TC_ROOT"
export CCACHE_NOHASHDIR=1
export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"

tc_log() { printf '[%s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }
