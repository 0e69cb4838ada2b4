<?php
// SabreDAV serving DAV_ROOT under /dav/ for PHP's built-in web server, configured by the
// environment start.sh exports (DAV_ROOT, DAV_WORK, DAV_AUTH, DAV_REALM, DAV_USER, ...).
require_once 'Sabre/autoload.php';

class EnvBasicAuth extends \Sabre\DAV\Auth\Backend\AbstractBasic {
    protected function validateUserPass($username, $password) {
        return $username === getenv('DAV_USER') && $password === getenv('DAV_PASSWORD');
    }
}

if (!preg_match('#^/dav($|[/?])#', $_SERVER['REQUEST_URI'])) {
    http_response_code(404);
    exit;
}
$server = new \Sabre\DAV\Server(new \Sabre\DAV\FS\Directory(getenv('DAV_ROOT')));
$server->setBaseUri('/dav/');
$server->addPlugin(new \Sabre\DAV\Locks\Plugin(
    new \Sabre\DAV\Locks\Backend\File(getenv('DAV_WORK') . '/sabredav/locks')));
$backends = [
    'basic' => fn() => new EnvBasicAuth(),
    'digest' => fn() => new \Sabre\DAV\Auth\Backend\File(getenv('DAV_WORK') . '/htdigest'),
];
if (isset($backends[getenv('DAV_AUTH')]))
    $server->addPlugin(new \Sabre\DAV\Auth\Plugin($backends[getenv('DAV_AUTH')](), getenv('DAV_REALM')));
$server->exec();
