echo deployed
pwd > DEPLOYED_AT
