# Sourced by the browser tests. quiet_profile and serve need $work and the
# pids array set.

# Skips the test (exit 77) where a browser cannot run in a mount, network and
# process namespace of the test's own; else marks the run that the test
# starts inside one.
namespace_or_skip() { # PATH NAME PACKAGE WHY-ROOT
  [ -x "$1" ] || skip "no $2 at $1 (Debian package $3)"
  [ "$(id -u)" -eq 0 ] || skip "needs root: $4"
  unshare -mnpf --mount-proc true 2>/dev/null || skip "no mount, network and process namespace here"
  export ZEL_BROWSER_IN_NAMESPACE=1
}

# A profile that sends nothing of its own to the network and shows no
# first-run pages.
quiet_profile() { # FOLDER
  mkdir -p "$1"
  cat >"$1/user.js" <<'JS'
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("network.dns.disablePrefetch", true);
user_pref("network.prefetch-next", false);
user_pref("network.http.speculative-parallel-limit", 0);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("app.update.enabled", false);
JS
}

# Serves $work/site at ADDRESS:PORT, its requests logged to LOG; returns once it answers.
serve() { # ADDRESS PORT LOG
  python3 -m http.server "$2" --bind "$1" --directory "$work/site" >"$3" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 50); do (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null && break; sleep 0.1; done
}
