#include "cli/remote_scripts.h"

namespace host::cli {
namespace {

// Where the client and the shells' files go, and whether the machine can
// run the copy. A machine of another kind may have a welkmora of its own.
constexpr std::string_view kCheck = R"sh(v=$1 want=$2 id=$3 arch=$4
say() { echo "welkmora:$1=$2"; }
fail() { say result "$1"; say "$2" "$3"; exit 0; }
dir=${XDG_CACHE_HOME:-$HOME/.cache}/welkmora/$v
{ mkdir -p "$dir/bin" "$dir/zsh" && [ -w "$dir" ] && [ -w "$dir/bin" ]; } 2>/dev/null || fail nocache dir "$dir"
machine=$(uname -m)
client=copy
if [ "$machine" != "$arch" ]; then
  command -v welkmora >/dev/null 2>&1 || fail arch machine "$machine"
  client=own
elif [ "$(sha256sum < "$dir/bin/welkmora" 2>/dev/null | cut -c1-64)" = "$want" ]; then
  client=have
fi
if [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -d "$XDG_RUNTIME_DIR" ] && [ -w "$XDG_RUNTIME_DIR" ]; then
  run=$XDG_RUNTIME_DIR/welkmora
else
  run=/tmp/welkmora-$(id -u)
fi
(umask 077 && mkdir -p "$run") 2>/dev/null
{ [ -d "$run" ] && [ ! -L "$run" ] && [ -O "$run" ] && chmod 700 "$run"; } 2>/dev/null || fail noruntime run "$run"
put() { cat > "$dir/$1.$$" && mv -f "$dir/$1.$$" "$dir/$1"; }
)sh";

// Run as `sh DIR/boot ENVFILE SOCKET BINDIR [COMMAND...]`: takes the
// recruit's variables from the file the host left and removes it, runs the
// command (or the login shell, with the prompt marks for bash, zsh and fish)
// and removes the forwarded socket when it ends, also on a hang-up. The
// terminal's mark key goes to the marking shell alone, which keeps it from
// the programs it runs.
constexpr std::string_view kBoot = R"sh(here=$(dirname "$0")
. "$1" && rm -f "$1" || exit 1
key=${WELKMORA_MARK_KEY:-}
unset WELKMORA_MARK_KEY
export WELKMORA_SOCKET="$2"
if [ -n "$3" ]; then PATH=$3:$PATH; export PATH; fi
sock=$2
shift 3
trap 'rm -f "$sock"' EXIT
trap 'exit 129' HUP
trap 'exit 143' TERM
trap : INT QUIT
login=${SHELL:-/bin/sh}
[ $# -eq 0 ] && set -- "$login"
if [ $# -eq 1 ]; then
  case ${1##*/} in
    bash) WELKMORA_MARK_KEY=$key "$1" --rcfile "$here/bashrc" -i; exit $? ;;
    zsh) WELKMORA_MARK_KEY=$key WELKMORA_ZDOTDIR=${ZDOTDIR:-$HOME} ZDOTDIR=$here/zsh "$1" -i; exit $? ;;
    fish) WELKMORA_MARK_KEY=$key WELKMORA_FISH_MARKS=$here/marks.fish "$1" -i -C 'source $WELKMORA_FISH_MARKS'; exit $? ;;
  esac
fi
"$login" -c "$*"
)sh";

// The prompt marks: A where the prompt starts, B where typing starts, C
// where the command's output starts, D;STATUS where it ended; each carries
// the terminal's key (";welkmora=KEY"), which the shell takes out of its
// environment first, so that no program it runs has it.
constexpr std::string_view kBashrc = R"sh(__welkmora_key=${WELKMORA_MARK_KEY:-}
unset WELKMORA_MARK_KEY
[ -f /etc/bash.bashrc ] && . /etc/bash.bashrc
[ -f ~/.bashrc ] && . ~/.bashrc
__welkmora_marks() {
  local s=$?
  [ -n "${__welkmora_prompted:-}" ] && printf '\033]133;D;%s;welkmora=%s\007' "$s" "$__welkmora_key"
  __welkmora_prompted=1
  printf '\033]133;A;welkmora=%s\007' "$__welkmora_key"
  return $s
}
PROMPT_COMMAND="__welkmora_marks${PROMPT_COMMAND:+;$PROMPT_COMMAND}"
PS1="${PS1}"'\[\033]133;B;welkmora=${__welkmora_key}\007\]'
PS0="${PS0:-}"'\033]133;C;welkmora=${__welkmora_key}\007'
)sh";

constexpr std::string_view kZshenv =
    R"sh([ -f "${WELKMORA_ZDOTDIR:-$HOME}/.zshenv" ] && . "${WELKMORA_ZDOTDIR:-$HOME}/.zshenv"
)sh";

constexpr std::string_view kZshrc = R"sh(ZDOTDIR=${WELKMORA_ZDOTDIR:-$HOME}
unset WELKMORA_ZDOTDIR
_welkmora_key=${WELKMORA_MARK_KEY:-}
unset WELKMORA_MARK_KEY
[ -f "$ZDOTDIR/.zshrc" ] && . "$ZDOTDIR/.zshrc"
_welkmora_precmd() {
  local s=$?
  (( ${+_welkmora_ran} )) && print -n "\e]133;D;$s;welkmora=$_welkmora_key\a"
  unset _welkmora_ran
  print -n "\e]133;A;welkmora=$_welkmora_key\a"
}
_welkmora_preexec() { _welkmora_ran=1; print -n "\e]133;C;welkmora=$_welkmora_key\a" }
autoload -Uz add-zsh-hook
add-zsh-hook precmd _welkmora_precmd
add-zsh-hook preexec _welkmora_preexec
PS1="$PS1%{"$'\e]133;B;welkmora='"$_welkmora_key"$'\a'"%}"
)sh";

constexpr std::string_view kFish = R"sh(set -e WELKMORA_FISH_MARKS
set -g __welkmora_key $WELKMORA_MARK_KEY
set -e WELKMORA_MARK_KEY
function __welkmora_prompt_start --on-event fish_prompt
    printf '\e]133;A;welkmora=%s\a' $__welkmora_key
end
function __welkmora_output_start --on-event fish_preexec
    printf '\e]133;C;welkmora=%s\a' $__welkmora_key
end
function __welkmora_output_end --on-event fish_postexec
    printf '\e]133;D;%s;welkmora=%s\a' $status $__welkmora_key
end
if functions -q fish_prompt
    functions -c fish_prompt __welkmora_user_prompt
    function fish_prompt
        __welkmora_user_prompt
        printf '\e]133;B;welkmora=%s\a' $__welkmora_key
    end
end
)sh";

constexpr std::string_view kEnd = "WELKMORA_FILE_END";

std::string put_file(std::string_view name, std::string_view text) {
  return "put " + std::string(name) + " <<'" + std::string(kEnd) + "'\n" + std::string(text) + std::string(kEnd) + "\n";
}

}  // namespace

std::string sh_quote(std::string_view text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string_view marking_bashrc() { return kBashrc; }

std::string probe_script(const std::vector<std::pair<std::string, std::string>>& env, std::string_view id) {
  std::string end = "WELKMORA_ENV_END_" + std::string(id);
  std::string script(kCheck);
  script += "(umask 077 && cat > \"$run/$id.env\") <<'" + end + "'\n";
  for (const auto& [name, value] : env) script += "export " + name + "=" + sh_quote(value) + "\n";
  script += end + "\n";
  script += put_file("boot", kBoot) + put_file("bashrc", kBashrc) + put_file("zsh/.zshenv", kZshenv) +
            put_file("zsh/.zshrc", kZshrc) + put_file("marks.fish", kFish);
  script += "say dir \"$dir\"\nsay run \"$run\"\nsay client \"$client\"\nsay result ok\n";
  return script;
}

}  // namespace host::cli
