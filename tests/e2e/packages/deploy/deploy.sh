#!/bin/sh
echo deployed
false
pwd > DEPLOYED_AT
exit 3
