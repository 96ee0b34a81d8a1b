# SPDX-License-Identifier: MIT
# Sourced by the demo scripts: start_site_nginx <run folder> <site folder> <port> serves the
# site folder with a private nginx on 127.0.0.1:<port>, its files under <run folder>/nginx,
# and sets nginx_pid; it returns once the site answers.
start_site_nginx() {
    local run=$1 site=$2 port=$3 user=""
    mkdir -p "$run/nginx/logs"
    # As root, nginx would hand its worker to an account that may not read the build directory.
    [ "$(id -u)" -eq 0 ] && user="user $(id -un) $(id -gn);"
    cat >"$run/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
$user
pid $run/nginx/nginx.pid;
error_log $run/nginx/logs/error.log;
events { worker_connections 64; }
http {
    access_log $run/nginx/logs/access.log;
    client_body_temp_path $run/nginx/client_body;
    proxy_temp_path $run/nginx/proxy;
    fastcgi_temp_path $run/nginx/fastcgi;
    uwsgi_temp_path $run/nginx/uwsgi;
    scgi_temp_path $run/nginx/scgi;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$port;
        root $site;
        location / { }
    }
}
CONF
    nginx -p "$run/nginx/" -e "$run/nginx/logs/error.log" -c "$run/nginx/nginx.conf" &
    nginx_pid=$!
    for _ in $(seq 300); do
        curl -fsS -o /dev/null "http://127.0.0.1:$port/update.json" 2>/dev/null && return 0
        kill -0 "$nginx_pid" 2>/dev/null || { cat "$run/nginx/logs/error.log" >&2; return 1; }
        sleep 0.1
    done
    echo "nginx did not answer on port $port" >&2
    return 1
}
