# Shared settings for the project's scripts; sourced, not run.
TC_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TC_BUILD_DIR="${TC_BUILD_DIR:-$TC_ROOT/build}"
# The engines are built before the program exists, so the cache is the one folder worked out here; the rule
# is the program's own (AppPaths::cacheDirectory): relative values count as unset.
if [[ "${TC_CACHE_DIR:-}" != /* ]]; then
  if [[ "${XDG_CACHE_HOME:-}" == /* ]]; then
    TC_CACHE_DIR="$XDG_CACHE_HOME/transcription-corvane"
  else
    TC_CACHE_DIR="$HOME/.cache/transcription-corvane"
  fi
fi
export TC_CACHE_DIR
mkdir -p "$TC_CACHE_DIR"

# ccache shared across clones: paths are hashed relative to the clone.
export CCACHE_DIR="${CCACHE_DIR:-$TC_CACHE_DIR/ccache}"
export CCACHE_BASEDIR="$TC_ROOT"
export CCACHE_NOHASHDIR=1
export CCACHE_MAXSIZE="${CCACHE_MAXSIZE:-5G}"

tc_log() { printf '[%s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }

# Exports the application's folders (TC_MODELS_DIR, TC_HISTORY_FILE, ...) as the built program computes them.
tc_app_paths() {
  local app="$TC_BUILD_DIR/src/transcription-corvane" line
  if [[ ! -x "$app" ]]; then
    tc_log "エラー: $app がありません。先に scripts/setup でビルドしてください。"
    return 1
  fi
  while IFS= read -r line; do
    [[ "$line" == TC_*=* ]] && export "${line?}"
  done < <("$app" --print-paths)
}
