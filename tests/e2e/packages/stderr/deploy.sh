echo 'deploy: no space left' >&2
