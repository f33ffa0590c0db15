#!/usr/bin/env bash
# Throwaway PostgreSQL servers for the tests and the benchmark, each in a
# folder of its own under DIR, listening on a Unix socket there and nowhere
# else, run as an unprivileged user (initdb and postgres refuse root: under
# root, as the postgres user the package creates). Nothing is synced: the
# data is thrown away.
#   pgserver.sh start DIR NAME   starts the server NAME (made from DIR/template, which the
#                                first start makes with initdb); prints its URL
#   pgserver.sh stop DIR NAME    stops it (its data stays, start starts it again)
#   pgserver.sh remove DIR       stops every server in DIR and removes DIR
# The URL names the user "tessary" (a superuser) and the database "postgres".
set -euo pipefail
command=${1:-} dir=${2:-} name=${3:-}
[[ -n "$command" && -n "$dir" ]] || { echo "usage: pgserver.sh start|stop DIR NAME | remove DIR" >&2; exit 2; }

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  user=postgres
  id -u "$user" >/dev/null 2>&1 || user=nobody
  as_user=(setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups --reset-env)
fi
run() { "${as_user[@]}" "$@"; }

case "$command" in
start)
  [[ -n "$bin" && -x "$bin/postgres" ]] || { echo "PostgreSQL is not installed (Debian's postgresql package)" >&2; exit 1; }
  [[ -n "$name" ]] || { echo "pgserver.sh start needs a NAME" >&2; exit 2; }
  mkdir -p "$dir"
  chmod 755 "$dir"
  (
    flock 9
    if [[ ! -d "$dir/template" ]]; then
      mkdir "$dir/template.new"
      [[ ${#as_user[@]} -eq 0 ]] || chown "$user" "$dir/template.new"
      run "$bin/initdb" -D "$dir/template.new/data" -A trust -U tessary -N -E UTF8 --locale=C.UTF-8 \
        >"$dir/template.new/initdb.log" 2>&1 || { tail -n 3 "$dir/template.new/initdb.log" >&2; exit 1; }
      mv "$dir/template.new" "$dir/template"
    fi
  ) 9>"$dir/.lock"
  server="$dir/$name"
  if [[ ! -d "$server" ]]; then
    cp -a "$dir/template" "$server"
  fi
  rm -f "$server/data/postmaster.pid"
  run "$bin/pg_ctl" -D "$server/data" -l "$server/log" -w -t 30 -s \
    -o "-k $server -c listen_addresses= -F -c full_page_writes=off -c max_connections=40" start >&2 \
    || { tail -n 3 "$server/log" >&2; exit 1; }
  socket=${server//%/%25}
  printf 'postgresql://tessary@%s/postgres\n' "${socket//\//%2F}"
  ;;
stop)
  [[ -n "$name" ]] || { echo "pgserver.sh stop needs a NAME" >&2; exit 2; }
  run "$bin/pg_ctl" -D "$dir/$name/data" -m immediate -w -s stop >&2
  ;;
remove)
  for data in "$dir"/*/data; do
    [[ -f "$data/postmaster.pid" ]] && run "$bin/pg_ctl" -D "$data" -m immediate -w -s stop >/dev/null 2>&1 || true
  done
  rm -rf "$dir"
  ;;
*)
  echo "usage: pgserver.sh start|stop DIR NAME | remove DIR" >&2
  exit 2
  ;;
esac
