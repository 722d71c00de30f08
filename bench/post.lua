wrk.method = "POST"
