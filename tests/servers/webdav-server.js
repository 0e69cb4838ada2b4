// The npm package webdav-server (v2) serving a directory under /dav over
// HTTP or HTTPS. Started by webdav-server.sh; configured by the environment:
// DAV_PORT, DAV_ROOT, DAV_AUTH (basic, digest, none), DAV_REALM, DAV_USER,
// DAV_PASSWORD, DAV_CERT and DAV_KEY (TLS when both are set), NODE_PATH.
'use strict';

const fs = require('fs');
const webdav = require('webdav-server').v2;

const env = process.env;

// The package's own basic authentication refuses credentials whose base64
// form holds "+" or "/" and cuts a password at its first ":"; this one reads
// the header as RFC 7617 says and otherwise behaves the same.
class BasicAuthentication extends webdav.HTTPBasicAuthentication {
    getUser(ctx, callback) {
        const fail = (error) => this.userManager.getDefaultUser((user) => callback(error, user));
        const header = ctx.headers.find('Authorization');
        if (!header) return fail(webdav.Errors.MissingAuthorisationHeader);
        const match = /^Basic\s+([A-Za-z0-9+/]+=*)\s*$/.exec(header);
        if (!match) return fail(webdav.Errors.WrongHeaderFormat);
        const text = Buffer.from(match[1], 'base64').toString();
        const colon = text.indexOf(':');
        if (colon < 0) return fail(webdav.Errors.WrongHeaderFormat);
        this.userManager.getUserByNamePassword(text.substring(0, colon), text.substring(colon + 1),
            (e, user) => e ? fail(webdav.Errors.BadAuthentication) : callback(null, user));
    }
}

const options = { hostname: '127.0.0.1' };
if (env.DAV_AUTH !== 'none') {
    const users = new webdav.SimpleUserManager();
    const privileges = new webdav.SimplePathPrivilegeManager();
    const user = users.addUser(env.DAV_USER, env.DAV_PASSWORD, false);
    privileges.setRights(user, '/', ['all']);
    options.privilegeManager = privileges;
    options.requireAuthentification = true;
    options.httpAuthentication = env.DAV_AUTH === 'digest'
        ? new webdav.HTTPDigestAuthentication(users, env.DAV_REALM)
        : new BasicAuthentication(users, env.DAV_REALM);
}
if (env.DAV_AUTH === 'none') {
    // The anonymous default user may do everything.
    const open = new webdav.PrivilegeManager();
    open._can = (path, user, resource, privilege, callback) => callback(null, true);
    options.privilegeManager = open;
}
if (env.DAV_CERT && env.DAV_KEY)
    options.https = { cert: fs.readFileSync(env.DAV_CERT), key: fs.readFileSync(env.DAV_KEY) };

// The directory is mounted at /dav so that request URIs, hrefs and digest
// URIs all keep their full path; above it is an empty virtual folder.
const server = new webdav.WebDAVServer(options);
server.setFileSystemSync('/dav', new webdav.PhysicalFileSystem(env.DAV_ROOT));
server.start(Number(env.DAV_PORT), () => {
    console.log('webdav-server listening on 127.0.0.1:' + env.DAV_PORT);
});
for (const signal of ['SIGTERM', 'SIGINT']) process.on(signal, () => process.exit(0));
